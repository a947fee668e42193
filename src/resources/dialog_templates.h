// The wizard's dialog templates as data: one definition that the Linux dialog
// layer builds windows from, that the Windows resource script is checked
// against, and that tests read.
//
// Plain C++ with no system header, so every target can use it. Texts are UTF-8;
// whoever needs code page 932 converts them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wq2::resources {

// One control of a template, in template order (which is also the tab order).
struct DialogControl {
    int id;
    const char* className;  // "button", "static", "edit"
    const char* text;       // UTF-8
    std::uint32_t style;
    std::uint32_t exStyle;
    std::uint32_t helpId;
    int x, y, cx, cy;  // dialog units
};

// An extended dialog template with a font, no menu and the default dialog class.
struct DialogTemplate {
    int id;
    std::uint16_t language;
    std::uint32_t style;
    std::uint32_t exStyle;
    std::uint32_t helpId;
    int x, y, cx, cy;  // dialog units
    const char* title;     // UTF-8
    const char* fontFace;  // UTF-8
    int pointSize;
    int weight;
    bool italic;
    int charset;
    const DialogControl* controls;
    std::size_t controlCount;
};

// Window and control style bits the templates use, with the Windows values.
constexpr std::uint32_t kWsPopup = 0x80000000u;
constexpr std::uint32_t kWsChild = 0x40000000u;
constexpr std::uint32_t kWsVisible = 0x10000000u;
constexpr std::uint32_t kWsCaption = 0x00C00000u;
constexpr std::uint32_t kWsBorder = 0x00800000u;
constexpr std::uint32_t kWsVScroll = 0x00200000u;
constexpr std::uint32_t kWsSysMenu = 0x00080000u;
constexpr std::uint32_t kWsGroup = 0x00020000u;
constexpr std::uint32_t kWsTabStop = 0x00010000u;
constexpr std::uint32_t kDsSetFont = 0x00000040u;
constexpr std::uint32_t kDsModalFrame = 0x00000080u;
constexpr std::uint32_t kDsCenter = 0x00000800u;
constexpr std::uint32_t kBsPushButton = 0x00000000u;
constexpr std::uint32_t kBsDefPushButton = 0x00000001u;
constexpr std::uint32_t kBsRadioButton = 0x00000004u;
constexpr std::uint32_t kBsTypeMask = 0x0000000Fu;
constexpr std::uint32_t kSsLeft = 0x00000000u;
constexpr std::uint32_t kEsMultiline = 0x00000004u;
constexpr std::uint32_t kEsReadOnly = 0x00000800u;

// Japanese (Japan), the templates' language.
constexpr std::uint16_t kLanguageJapanese = 1041;

// The template with that id (IDD_WIZARD, IDD_WIZARD_AGREEMENT); null for any other.
const DialogTemplate* FindDialogTemplate(int id);

}  // namespace wq2::resources
