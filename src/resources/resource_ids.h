// Resource and control numbers shared by the wizard's code, its dialog
// templates and the Windows resource script. Plain macros, so the resource
// compiler can read this file too.
#pragma once

// Dialog templates: the wizard without and with an agreement page.
#define IDD_WIZARD 100
#define IDD_WIZARD_AGREEMENT 101

// The payload archive: resource type "UPDATE", this id.
#define IDR_PAYLOAD 102

// Controls; the same id means the same control in both templates.
#define IDC_NEXT 1
#define IDC_CANCEL 2
#define IDC_BACK 4
#define IDC_AGREEMENT 1000
#define IDC_INFO 1001
#define IDC_AGREE 1002
#define IDC_DISAGREE 1003
