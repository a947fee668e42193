// The wizard's dialog templates, field by field against one table of the
// expected rows: the Linux dialogs and the Windows resource script are both
// made from this data.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dialog_templates.h"
#include "resource_ids.h"

namespace {

using wq2::resources::DialogControl;
using wq2::resources::DialogTemplate;
using wq2::resources::FindDialogTemplate;

struct ExpectedControl {
    int id;
    std::string className;
    std::string text;
    std::uint32_t style;
    int x, y, cx, cy;
};

struct ExpectedTemplate {
    int id;
    int cx, cy;
    std::vector<ExpectedControl> controls;
};

const ExpectedTemplate kExpected[] = {
    {IDD_WIZARD,
     247,
     93,
     {
         {1, "button", "次へ", 0x50010001u, 143, 72, 44, 14},
         {2, "button", "中止", 0x50010000u, 196, 72, 44, 14},
         {4, "button", "戻る", 0x50010000u, 99, 72, 44, 14},
         {1001, "static", "Info", 0x50020000u, 16, 16, 214, 26},
     }},
    {IDD_WIZARD_AGREEMENT,
     364,
     222,
     {
         {1, "button", "次へ", 0x50010001u, 258, 202, 44, 14},
         {2, "button", "中止", 0x50010000u, 311, 202, 44, 14},
         {4, "button", "戻る", 0x50010000u, 214, 202, 44, 14},
         {1001, "static", "Info", 0x50020000u, 16, 9, 331, 65},
         {1000, "edit", "", 0x50A00004u, 6, 81, 351, 92},
         {1002, "button", "同意する", 0x50000004u, 10, 177, 225, 10},
         {1003, "button", "同意しない", 0x50000004u, 10, 189, 225, 10},
     }},
};

TEST(DialogTemplates, MatchTheWizardsLayoutFieldByField) {
    for (const ExpectedTemplate& expected : kExpected) {
        SCOPED_TRACE(expected.id);
        const DialogTemplate* t = FindDialogTemplate(expected.id);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->id, expected.id);
        EXPECT_EQ(t->language, 1041);
        EXPECT_EQ(t->style, 0x90C808C0u);
        EXPECT_EQ(t->exStyle, 0u);
        EXPECT_EQ(t->helpId, 0u);
        EXPECT_EQ(t->x, 0);
        EXPECT_EQ(t->y, 0);
        EXPECT_EQ(t->cx, expected.cx);
        EXPECT_EQ(t->cy, expected.cy);
        EXPECT_STREQ(t->title, "UPDATE");
        EXPECT_STREQ(t->fontFace, "ＭＳ Ｐゴシック");
        EXPECT_EQ(t->pointSize, 10);
        EXPECT_EQ(t->weight, 0);
        EXPECT_FALSE(t->italic);
        EXPECT_EQ(t->charset, 0);
        ASSERT_EQ(t->controlCount, expected.controls.size());
        for (size_t i = 0; i < expected.controls.size(); ++i) {
            const ExpectedControl& e = expected.controls[i];
            const DialogControl& c = t->controls[i];
            SCOPED_TRACE(e.id);
            EXPECT_EQ(c.id, e.id);
            EXPECT_EQ(c.className, e.className);
            EXPECT_EQ(c.text, e.text);
            EXPECT_EQ(c.style, e.style);
            EXPECT_EQ(c.exStyle, 0u);
            EXPECT_EQ(c.helpId, 0u);
            EXPECT_EQ(c.x, e.x);
            EXPECT_EQ(c.y, e.y);
            EXPECT_EQ(c.cx, e.cx);
            EXPECT_EQ(c.cy, e.cy);
        }
    }
}

TEST(DialogTemplates, OtherIdsHaveNone) {
    for (int id : {0, 99, 102, 1000, -100}) EXPECT_EQ(FindDialogTemplate(id), nullptr) << id;
}

}  // namespace
