// What the command shows people: the progress line, tables, the describe
// text and the contact sheet.

#include <gtest/gtest.h>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>

#include <filesystem>

#include "demo/contact_sheet.h"
#include "interface/commands.h"
#include "interface/progress.h"
#include "interface/text_table.h"

namespace lenstrove::cli {
namespace {
namespace fs = std::filesystem;

TEST(Progress, LineShowsCountRateAndTimeLeft) {
  EXPECT_EQ(FormatProgressLine(0, 10, 0.0, 10), "[..........] 0/10 frames");
  EXPECT_EQ(FormatProgressLine(5, 10, 2.0, 10), "[#####.....] 5/10 frames  2.5 fps  0:02 left");
  EXPECT_EQ(FormatProgressLine(10, 10, 4.0, 4), "[####] 10/10 frames  2.5 fps  0:00 left");
}

TEST(Progress, DurationsRollOverIntoMinutesAndHours) {
  EXPECT_EQ(FormatDuration(7.4), "0:07");
  EXPECT_EQ(FormatDuration(65), "1:05");
  EXPECT_EQ(FormatDuration(3723), "1:02:03");
  EXPECT_EQ(FormatDuration(-3), "0:00");
}

TEST(Progress, NothingIsDrawnWhenDisabled) {
  std::FILE* sink = std::tmpfile();
  {
    ProgressBar bar(3, false, sink);
    bar.frameDone();
  }
  EXPECT_EQ(std::ftell(sink), 0L);
  std::fclose(sink);
}

TEST(Tables, ColumnsAlignAndTrailingBlanksAreDropped) {
  TextTable table({"A", "LONGER"});
  table.addRow({"wide cell", "x"});
  table.addRow({"y"});
  EXPECT_EQ(table.render(), "A          LONGER\n---------  ------\nwide cell  x\ny\n");
}

TEST(Describe, ParametersAreListedInHostOrderWithDefaultsAndRanges) {
  PluginDescription d;
  d.summary = {"com.Example.Fx", "1.2", "Example", "/x/Example.ofx"};
  d.grouping = "Tests";
  d.contexts = {"filter", "general"};
  d.depths = {"byte", "float"};
  d.clips = {{"Output", {"RGBA"}, false}, {"Source", {"RGBA", "Alpha"}, true}};
  const auto param = [](const char* name, ParameterType type, const char* label, const char* parent, bool animates,
                         std::vector<double> defaults = {}, std::vector<double> minimum = {},
                         std::vector<double> maximum = {}) {
    ParameterInfo p;
    p.name = name;
    p.type = type;
    p.label = label;
    p.parent = parent;
    p.animates = animates;
    p.defaults = defaults;
    p.minimum = minimum;
    p.maximum = maximum;
    return p;
  };
  d.parameters = {param("Grp", ParameterType::Group, "Group", "", false),
                  param("On", ParameterType::Boolean, "Switch", "Grp", false, {1.0}),
                  param("Amount", ParameterType::Double, "Amount", "Grp", true, {0.25}, {0.0}, {1.0})};
  const std::string text = FormatDescription(d);
  EXPECT_NE(text.find("2 parameters in 1 group:\n"), std::string::npos);
  EXPECT_NE(text.find("contexts    filter, general\n"), std::string::npos);
  EXPECT_NE(text.find("clips       Output (RGBA), Source (RGBA/Alpha, optional)\n"), std::string::npos);
  const std::size_t group = text.find("\nGrp "), on = text.find("\nOn "), amount = text.find("\nAmount ");
  ASSERT_NE(amount, std::string::npos);
  EXPECT_LT(group, on);
  EXPECT_LT(on, amount);
  EXPECT_NE(text.find("Amount  double   Amount  Grp    0.25     0..1   yes"), std::string::npos) << text;
  EXPECT_NE(text.find("On      boolean  Switch  Grp    on              no"), std::string::npos) << text;
}

TEST(ContactSheet, PicturesSitInAGridWithLabelsDrawnUnderThem) {
  char pattern[] = "/tmp/lenstrove-sheet-XXXXXX";
  const std::string folder = ::mkdtemp(pattern);
  const float red[] = {1, 0, 0};
  OIIO::ImageBuf picture(OIIO::ImageSpec(40, 20, 3, OIIO::TypeDesc::UINT8));
  OIIO::ImageBufAlgo::fill(picture, red);
  ASSERT_TRUE(picture.write(folder + "/red.png"));

  SheetLayout layout{2, 40, 40, 20, 5, 12};
  const std::vector<SheetEntry> entries = {{folder + "/red.png", "one"}, {"", ""}, {folder + "/red.png", "three"}};
  ASSERT_TRUE(WriteContactSheet(folder + "/sheet.png", entries, layout));
  OIIO::ImageBuf sheet(folder + "/sheet.png");
  ASSERT_TRUE(sheet.read());
  EXPECT_EQ(sheet.roi().width(), 5 + 2 * 45);
  EXPECT_EQ(sheet.roi().height(), 5 + 2 * 65);
  float pixel[3];
  // The first picture is scaled to 40x20 and sits at the bottom of its
  // 40x40 cell, above the label.
  sheet.getpixel(5 + 20, 5 + 30, pixel);
  EXPECT_GT(pixel[0], 0.9f);
  EXPECT_LT(pixel[1], 0.1f);
  sheet.getpixel(5 + 20, 5 + 10, pixel);
  EXPECT_LT(pixel[0], 0.5f);
  // The blank cell stays background.
  sheet.getpixel(50 + 20, 5 + 20, pixel);
  EXPECT_LT(pixel[0], 0.5f);
  // Some light text pixels lie in the first label's strip.
  const OIIO::ROI label(5, 45, 45, 65, 0, 1, 0, 3);
  EXPECT_GT(OIIO::ImageBufAlgo::computePixelStats(sheet, label).max[1], 0.5f);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace lenstrove::cli
