#include "dialog_templates.h"

#include <iterator>

#include "resource_ids.h"

namespace wq2::resources {
namespace {

constexpr std::uint32_t kDialogStyle = kWsPopup | kWsVisible | kWsCaption | kWsSysMenu | kDsModalFrame |
                                       kDsSetFont | kDsCenter;
constexpr std::uint32_t kDefaultButton = kWsChild | kWsVisible | kWsTabStop | kBsDefPushButton;
constexpr std::uint32_t kButton = kWsChild | kWsVisible | kWsTabStop | kBsPushButton;
constexpr std::uint32_t kText = kWsChild | kWsVisible | kWsGroup | kSsLeft;
// The agreement is a bordered, scrolling, editable box that Tab passes over.
constexpr std::uint32_t kAgreementBox = kWsChild | kWsVisible | kWsBorder | kWsVScroll | kEsMultiline;
// Plain radio buttons: a click only reports; the program sets the mark.
constexpr std::uint32_t kRadio = kWsChild | kWsVisible | kBsRadioButton;

constexpr char kTitle[] = "UPDATE";
constexpr char kFont[] = "ＭＳ Ｐゴシック";

constexpr DialogControl kWizardControls[] = {
    {IDC_NEXT, "button", "次へ", kDefaultButton, 0, 0, 143, 72, 44, 14},
    {IDC_CANCEL, "button", "中止", kButton, 0, 0, 196, 72, 44, 14},
    {IDC_BACK, "button", "戻る", kButton, 0, 0, 99, 72, 44, 14},
    {IDC_INFO, "static", "Info", kText, 0, 0, 16, 16, 214, 26},
};

constexpr DialogControl kAgreementControls[] = {
    {IDC_NEXT, "button", "次へ", kDefaultButton, 0, 0, 258, 202, 44, 14},
    {IDC_CANCEL, "button", "中止", kButton, 0, 0, 311, 202, 44, 14},
    {IDC_BACK, "button", "戻る", kButton, 0, 0, 214, 202, 44, 14},
    {IDC_INFO, "static", "Info", kText, 0, 0, 16, 9, 331, 65},
    {IDC_AGREEMENT, "edit", "", kAgreementBox, 0, 0, 6, 81, 351, 92},
    {IDC_AGREE, "button", "同意する", kRadio, 0, 0, 10, 177, 225, 10},
    {IDC_DISAGREE, "button", "同意しない", kRadio, 0, 0, 10, 189, 225, 10},
};

constexpr DialogTemplate kTemplates[] = {
    {IDD_WIZARD, kLanguageJapanese, kDialogStyle, 0, 0, 0, 0, 247, 93, kTitle, kFont, 10, 0, false, 0,
     kWizardControls, std::size(kWizardControls)},
    {IDD_WIZARD_AGREEMENT, kLanguageJapanese, kDialogStyle, 0, 0, 0, 0, 364, 222, kTitle, kFont, 10, 0, false, 0,
     kAgreementControls, std::size(kAgreementControls)},
};

}  // namespace

const DialogTemplate* FindDialogTemplate(int id) {
    for (const DialogTemplate& candidate : kTemplates) {
        if (candidate.id == id) return &candidate;
    }
    return nullptr;
}

}  // namespace wq2::resources
