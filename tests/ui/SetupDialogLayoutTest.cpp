// The embedded dialog layout as the views read it, and the reader's robustness.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "ui/ISetupDialogView.h"
#include "ui/SetupDialogLayout.h"

namespace {

const ui::LayoutControl* Find(const ui::DialogLayout& layout, int id) {
    for (const auto& c : layout.controls) {
        if (c.id == id) return &c;
    }
    return nullptr;
}

TEST(SetupDialogLayout, EmbeddedLayoutHasTheDialogsControlsInOrder) {
    ui::DialogLayout layout;
    ASSERT_TRUE(ui::LoadSetupDialogLayout(&layout));
    EXPECT_EQ(layout.caption, "Setup Calendar");
    EXPECT_EQ(layout.width, 289);
    EXPECT_EQ(layout.height, 168);
    EXPECT_EQ(layout.pointSize, 8);
    ASSERT_EQ(layout.controls.size(), 20u);
    EXPECT_EQ(layout.controls.front().id, ui::kIdBand);
    EXPECT_EQ(layout.controls.back().id, ui::kIdSync);
    // Each up-down follows its field.
    for (size_t i = 0; i < layout.controls.size(); ++i) {
        if (layout.controls[i].kind == "msctls_updown32") {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(layout.controls[i - 1].kind, "Edit");
        }
    }
    const ui::LayoutControl* verify = Find(layout, ui::kIdVerify);
    ASSERT_NE(verify, nullptr);
    EXPECT_EQ(verify->text, "Verify Connection");
    EXPECT_EQ(verify->x, 188);
    EXPECT_EQ(verify->y, 28);
    EXPECT_EQ(verify->width, 90);
    EXPECT_EQ(verify->height, 14);
    EXPECT_EQ(Find(layout, ui::kIdLocal), nullptr);
    for (int id : {ui::kIdOk, ui::kIdCancel, ui::kIdRefreshPeriod, ui::kIdLocations, ui::kIdGroups,
                   ui::kIdUrl, ui::kIdStatus, ui::kIdLookahead, ui::kIdRefreshSpin, ui::kIdLookaheadSpin}) {
        EXPECT_NE(Find(layout, id), nullptr) << id;
    }
}

TEST(SetupDialogLayout, ReaderRejectsOtherTextsAndCutsSizes) {
    ui::DialogLayout layout;
    EXPECT_FALSE(ui::ParseDialogLayout(nullptr, &layout));
    EXPECT_FALSE(ui::ParseDialogLayout("", &layout));
    EXPECT_FALSE(ui::ParseDialogLayout("<Other/>", &layout));
    EXPECT_FALSE(ui::ParseDialogLayout("<Dialog", &layout));
    ASSERT_TRUE(ui::ParseDialogLayout(
        "<Dialog Width='99999999999' Height='-5' PointSize='0'>"
        "<Control ID='7' Class='Edit' X='-3' Width='123456'/><Control ID='8' Class='ListView'/>"
        "<Control Class='Static' Text='x' X='abc'/></Dialog>",
        &layout));
    EXPECT_EQ(layout.height, 0);
    EXPECT_EQ(layout.pointSize, 1);
    ASSERT_EQ(layout.controls.size(), 2u);
    EXPECT_EQ(layout.controls[0].x, 0);
    EXPECT_EQ(layout.controls[0].width, ui::kMaxLayoutUnits);
    EXPECT_EQ(layout.controls[1].id, -1);
    EXPECT_EQ(layout.controls[1].x, 0);
}

TEST(SetupDialogLayout, ArbitraryBytesNeverCrashTheReader) {
    std::mt19937 random(7);
    const std::string seed =
        "<Dialog Width=\"289\"><Control ID=\"1\" Class=\"Button\" Text=\"OK\"/></Dialog>";
    for (int round = 0; round < 2000; ++round) {
        std::string text = seed;
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < edits; ++i) {
            const size_t at = random() % (text.size() + 1);
            switch (random() % 3) {
                case 0:
                    text.insert(at, 1, static_cast<char>(random() % 256));
                    break;
                case 1:
                    if (at < text.size()) text.erase(at, 1);
                    break;
                default:
                    if (at < text.size()) text[at] = static_cast<char>(random() % 256);
                    break;
            }
        }
        ui::DialogLayout layout;
        ui::ParseDialogLayout(text.c_str(), &layout);
        for (const auto& c : layout.controls) {
            EXPECT_LE(c.width, ui::kMaxLayoutUnits);
            EXPECT_GE(c.x, 0);
        }
    }
}

}  // namespace
