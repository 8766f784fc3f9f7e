// The skin file reader over bytes: lines, sections, keys, the value forms
// and what a load resets or keeps.
#include "alerts/ui/skin_file.h"

#include <gtest/gtest.h>

#include <string>

namespace alerts::ui {
namespace {

std::optional<std::string> Read(std::string_view bytes, std::string_view key) {
  return CfgReadString(CfgFile(bytes), kSkinSection, key);
}

TEST(SkinFileTest, LinesSectionsAndKeys) {
  std::string file =
      "; a comment=not a key\r\n"
      "Top=1\n"  // before any section: not seen
      "[Other]\n"
      "FontSize=5\n"
      "[ZuduzAvev Skin SP] trailing words\n"
      "no equals sign here\n"
      ";FontSize=6\n"
      "fontsize=7\n"
      "FontSize =8\n"
      "FontSize=12   \r\n"
      "FontSize=13\n"
      "Empty=\n"
      "Eq=a=b\n"
      "[ZuduzAvev Skin SP]\n"
      "Later=1\n";
  EXPECT_EQ(Read(file, "FontSize"), "12");  // first match, spaces and CR cut
  EXPECT_EQ(Read(file, "fontsize"), "7");   // keys are case-sensitive
  EXPECT_EQ(Read(file, "FontSize "), "8");  // the key runs up to the "="
  EXPECT_EQ(Read(file, "Empty"), "");
  EXPECT_EQ(Read(file, "Eq"), "a=b");  // the value starts after the first "="
  EXPECT_EQ(Read(file, "Top"), std::nullopt);
  EXPECT_EQ(Read(file, "Later"), std::nullopt);  // only the first section
  EXPECT_EQ(Read(file, ";FontSize"), std::nullopt);

  // The section name must match exactly, up to its "]".
  EXPECT_EQ(Read("[zuduzavev skin sp]\nA=1\n", "A"), std::nullopt);
  EXPECT_EQ(Read("[ZuduzAvev Skin SP\nA=1\n", "A"), std::nullopt);
  EXPECT_EQ(Read(" [ZuduzAvev Skin SP]\nA=1\n", "A"), std::nullopt);
  // A UTF-8 byte-order mark before the first header is skipped; a last line
  // without a line feed is read.
  EXPECT_EQ(Read("\xEF\xBB\xBF[ZuduzAvev Skin SP]\nA=1", "A"), "1");
}

TEST(SkinFileTest, LongLinesAreReadInPieces) {
  // 259 bytes a piece: the rest of a long line is read as a line of its
  // own and can hold a key.
  std::string padding(259 - 4, 'x');  // "Pad=" + padding fills a piece
  std::string file = "[ZuduzAvev Skin SP]\nPad=" + padding + "FontSize=11\n";
  CfgFile cfg(file);
  ASSERT_EQ(cfg.lines().size(), 3u);
  EXPECT_EQ(cfg.lines()[1].size(), 259u);
  EXPECT_EQ(CfgReadString(cfg, kSkinSection, "Pad"), padding);
  EXPECT_EQ(CfgReadInt(cfg, kSkinSection, "FontSize"), 11);
  // A line of exactly 258 bytes plus its line feed stays whole.
  std::string whole = "[ZuduzAvev Skin SP]\nK=" + std::string(256, '7') + "\n";
  EXPECT_EQ(CfgFile(whole).lines().size(), 2u);
}

TEST(SkinFileTest, IntegerValues) {
  EXPECT_EQ(ParseSkinInteger("0"), 0);
  EXPECT_EQ(ParseSkinInteger("12"), 12);
  EXPECT_EQ(ParseSkinInteger("-7"), -7);
  EXPECT_EQ(ParseSkinInteger("0000000012"), 12);  // 10 characters
  EXPECT_EQ(ParseSkinInteger("2147483647"), 2147483647);
  EXPECT_EQ(ParseSkinInteger("-999999999"), -999999999);
  for (std::string_view bad :
       {"12a", "12345678901", "00000000012", "", "-", "+5", " 5", "5 ", "1-2",
        "--1", "2147483648", "9999999999", "0x10"}) {
    EXPECT_EQ(ParseSkinInteger(bad), std::nullopt) << bad;
  }
  std::string file = "[ZuduzAvev Skin SP]\nA=12a\nB=42\n";
  EXPECT_EQ(CfgReadInt(CfgFile(file), kSkinSection, "A"), std::nullopt);
  EXPECT_EQ(CfgReadInt(CfgFile(file), kSkinSection, "B"), 42);
}

TEST(SkinFileTest, RectangleAndColourValues) {
  EXPECT_EQ(ParseSkinRect("1,2,3,4"), (SkinRect{1, 2, 3, 4}));
  EXPECT_EQ(ParseSkinRect(" 1, 2,\t3,+4 and more"), (SkinRect{1, 2, 3, 4}));
  EXPECT_EQ(ParseSkinRect("5,5,5,5"), (SkinRect{5, 5, 5, 5}));  // empty is ok
  EXPECT_EQ(ParseSkinRect("-10,-10,-5,0"), (SkinRect{-10, -10, -5, 0}));
  EXPECT_EQ(ParseSkinRect("10,10,5,20"), std::nullopt);  // right < left
  EXPECT_EQ(ParseSkinRect("10,10,20,5"), std::nullopt);  // bottom < top
  EXPECT_EQ(ParseSkinRect("1,2,3"), std::nullopt);
  EXPECT_EQ(ParseSkinRect("1 ,2,3,4"), std::nullopt);  // "," must follow
  EXPECT_EQ(ParseSkinRect("1,2,3,99999999999"), std::nullopt);
  EXPECT_EQ(ParseSkinRect("a,2,3,4"), std::nullopt);

  EXPECT_EQ(ParseSkinColour("255,0,0"), 255u);
  EXPECT_EQ(ParseSkinColour("0,255,0"), 255u * 256);
  EXPECT_EQ(ParseSkinColour("0,0,255"), 255u * 65536);
  EXPECT_EQ(ParseSkinColour("1,2,3"), SkinColour(1, 2, 3));
  EXPECT_EQ(ParseSkinColour("256,0,0"), std::nullopt);
  EXPECT_EQ(ParseSkinColour("0,-1,0"), std::nullopt);
  EXPECT_EQ(ParseSkinColour("0,0"), std::nullopt);
}

TEST(SkinFileTest, LoadResetsSomeFieldsAndKeepsOthers) {
  PopupSkin skin;
  skin.dialog_left = 1;
  skin.dialog_top = 2;
  skin.dialog_width = 3;
  skin.dialog_height = 4;
  skin.num_text_rect = {1, 1, 2, 2};
  skin.photo_rect = {3, 3, 4, 4};
  skin.font_size = 30;
  skin.show_photo = 1;
  skin.show_number = 0;
  skin.show_number_label = 1;
  skin.num_color = 77;
  skin.des_color = 78;
  skin.transparent_color = 5;
  skin.path = u"\\kept";

  // Keys under another section: every key takes its default and the window
  // keeps its place and size.
  PopupSkin other = skin;
  ReadSkinValues(CfgFile("[Other Skin]\nDialogLeft=99\nFontSize=20\n"), &other);
  EXPECT_EQ(other.dialog_left, 1);
  EXPECT_EQ(other.dialog_top, 2);
  EXPECT_EQ(other.dialog_width, 3);
  EXPECT_EQ(other.dialog_height, 4);
  EXPECT_EQ(other.num_text_rect, kDefaultNumTextRect);
  EXPECT_EQ(other.des_text_rect, kDefaultDesTextRect);
  EXPECT_EQ(other.photo_rect, kDefaultPhotoRect);
  EXPECT_EQ(other.font_size, 9);
  EXPECT_EQ(other.show_photo, 0);
  EXPECT_EQ(other.show_number, 1);
  EXPECT_EQ(other.show_description, 1);
  EXPECT_EQ(other.show_number_label, 0);
  EXPECT_EQ(other.num_color, 0u);
  EXPECT_EQ(other.des_color, 0u);
  EXPECT_FALSE(other.transparent_color.has_value());
  EXPECT_EQ(other.path, u"\\kept");

  // Malformed values: integers, rectangles and colours keep what they had;
  // FontSize and the flags fall back to their reset values.
  PopupSkin bad = skin;
  ReadSkinValues(CfgFile("[ZuduzAvev Skin SP]\n"
                         "DialogLeft=x\n"
                         "DialogTop=12345678901\n"
                         "NumTextRect=10,10,5,20\n"
                         "PhotoRect=1,2\n"
                         "FontSize=12a\n"
                         "ShowPhoto=yes\n"
                         "ShowNumber=\n"
                         "NumColor=256,0,0\n"
                         "DesColor=255,0,0\n"
                         "TransparentColor=1,2,300\n"),
                 &bad);
  EXPECT_EQ(bad.dialog_left, 1);
  EXPECT_EQ(bad.dialog_top, 2);
  EXPECT_EQ(bad.num_text_rect, (SkinRect{1, 1, 2, 2}));
  EXPECT_EQ(bad.photo_rect, (SkinRect{3, 3, 4, 4}));
  EXPECT_EQ(bad.font_size, 9);
  EXPECT_EQ(bad.show_photo, 0);
  EXPECT_EQ(bad.show_number, 1);
  EXPECT_EQ(bad.num_color, 77u);
  EXPECT_EQ(bad.des_color, 255u);  // red
  EXPECT_FALSE(bad.shaped());

  // Good values are all taken.
  PopupSkin good = skin;
  ReadSkinValues(CfgFile("[ZuduzAvev Skin SP]\n"
                         "DialogLeft=-5\nDialogTop=6\nDialogWidth=170\n"
                         "DialogHeight=80\nNumTextRect=1,2,3,4\n"
                         "DesTextRect=5,6,7,8\nNumLableRect=9,9,9,9\n"
                         "DesLabelRect=0,0,1,1\nPhotoRect=2,2,40,40\n"
                         "FontSize=11\nShowPhoto=1\nShowNumberLabel=1\n"
                         "ShowDescriptionLabel=2\nShowNumber=0\n"
                         "ShowDescription=0\nNumColor=1,0,0\nDesColor=0,1,0\n"
                         "LabelColor=0,0,1\nTransparentColor=0,0,0\n"),
                 &good);
  EXPECT_EQ(good.dialog_left, -5);
  EXPECT_EQ(good.dialog_top, 6);
  EXPECT_EQ(good.dialog_width, 170);
  EXPECT_EQ(good.dialog_height, 80);
  EXPECT_EQ(good.num_text_rect, (SkinRect{1, 2, 3, 4}));
  EXPECT_EQ(good.des_text_rect, (SkinRect{5, 6, 7, 8}));
  EXPECT_EQ(good.num_label_rect, (SkinRect{9, 9, 9, 9}));
  EXPECT_EQ(good.des_label_rect, (SkinRect{0, 0, 1, 1}));
  EXPECT_EQ(good.photo_rect, (SkinRect{2, 2, 40, 40}));
  EXPECT_EQ(good.font_size, 11);
  EXPECT_EQ(good.show_photo, 1);
  EXPECT_EQ(good.show_number_label, 1);
  EXPECT_EQ(good.show_description_label, 2);
  EXPECT_EQ(good.show_number, 0);
  EXPECT_EQ(good.show_description, 0);
  EXPECT_EQ(good.num_color, 1u);
  EXPECT_EQ(good.des_color, 256u);
  EXPECT_EQ(good.label_color, 65536u);
  EXPECT_EQ(good.transparent_color, 0u);
  EXPECT_FALSE(good.shaped());  // present but 0: not shaped
}

TEST(SkinFileTest, BuiltInLookAndBitmapPath) {
  PopupSkin skin;
  skin.show_number_label = 1;
  skin.path = u"\\x.cfg";
  SetBuiltInLook(&skin);
  EXPECT_EQ(skin.dialog_left, 46);
  EXPECT_EQ(skin.dialog_top, 173);
  EXPECT_EQ(skin.dialog_width, 150);
  EXPECT_EQ(skin.dialog_height, 95);
  EXPECT_EQ(skin.photo_rect, (SkinRect{5, 30, 45, 70}));
  EXPECT_EQ(skin.show_photo, 1);
  EXPECT_EQ(skin.show_number_label, 0);
  EXPECT_EQ(skin.transparent_color, SkinColour(255, 255, 255));
  EXPECT_TRUE(skin.shaped());
  EXPECT_TRUE(skin.path.empty());

  EXPECT_EQ(SkinBitmapPath(u"\\skins\\Blue.cfg"), u"\\skins\\Blue.bmp");
  EXPECT_EQ(SkinBitmapPath(u"\\skins\\Blue.CFG"), u"\\skins\\Blue.bmp");
  EXPECT_EQ(SkinBitmapPath(u"abc"), u"bmp");
  EXPECT_EQ(SkinBitmapPath(u"ab"), std::nullopt);
}

}  // namespace
}  // namespace alerts::ui
