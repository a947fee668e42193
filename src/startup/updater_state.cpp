#include "updater_state.h"

#include <cstring>

#include "startup.h"

UpdaterState Updater;

void ResetUpdaterState() {
    // The agreement texts live until the process ends; a reset (a new run inside
    // one process, as the tests do) is such an end.
    if (Updater.AgreementText != nullptr) GlobalFree(Updater.AgreementText);
    if (Updater.AgreementTitle != nullptr) GlobalFree(Updater.AgreementTitle);
    if (Updater.PayloadArchive != nullptr) GlobalFree(Updater.PayloadArchive);
    std::memset(&Updater, 0, sizeof Updater);
    lstrcpyA(Updater.Caption, "UPDATE");
}

void ShowErrorBox(const char* text) {
    MessageBoxA(Updater.WizardWindow, text, Updater.Caption, MB_ICONERROR);
}

void CleanUp() {
    if (Updater.PayloadArchive != nullptr) {
        GlobalFree(Updater.PayloadArchive);
        Updater.PayloadArchive = nullptr;
    }
    if (Updater.TempSettingsPath[0] != '\0') DeleteFileA(Updater.TempSettingsPath);
}
