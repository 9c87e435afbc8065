// The render job: which depth is used, and how workers share frames, each
// with its own instance, with a stand-in plug-in that records what it is
// asked to do. (How frames split into windows and workers is the render
// session's: tests/session/windows_test.cpp.)

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "render/render_job.h"

namespace lenstrove::cli {
namespace {
namespace fs = std::filesystem;

PluginDescription WithDepths(std::vector<std::string> depths) {
  PluginDescription d;
  d.summary.identifier = "test.Plugin";
  d.depths = std::move(depths);
  return d;
}

TEST(DepthChoice, AutoPrefersTheFilesDepthAndFallsBack) {
  const PluginDescription both = WithDepths({"byte", "float"});
  EXPECT_EQ(ChooseDepth(DepthChoice::Auto, PixelDepth::Byte, both), PixelDepth::Byte);
  EXPECT_EQ(ChooseDepth(DepthChoice::Auto, PixelDepth::Float, both), PixelDepth::Float);
  const PluginDescription floatOnly = WithDepths({"float"});
  EXPECT_EQ(ChooseDepth(DepthChoice::Auto, PixelDepth::Byte, floatOnly), PixelDepth::Float);
  EXPECT_THROW(ChooseDepth(DepthChoice::Byte, PixelDepth::Byte, floatOnly), std::runtime_error);
  EXPECT_EQ(ChooseDepth(DepthChoice::Auto, PixelDepth::Byte, WithDepths({"half"})), PixelDepth::Float);
  EXPECT_THROW(ChooseDepth(DepthChoice::Auto, PixelDepth::Byte, WithDepths({"rgb565"})), std::runtime_error);
}

// ---- RunRenderPlan with a stand-in plug-in ----

struct Record {
  std::mutex mutex;
  std::map<const void*, std::set<double>> timesByInstance;
  std::atomic<int> overlaps{0};
  std::atomic<int> instances{0};
  double failAt = -1;
};

// Inverts the picture; fails at one chosen time; notes any second render
// entering the same instance while one is running.
class RecordingInstance : public EffectInstance {
 public:
  explicit RecordingInstance(Record& record) : record_(record) {}
  void applySettings(const std::vector<ResolvedSetting>&) override {}
  void render(const RgbaImage& source, RgbaImage& output, double time, const std::vector<RenderWindow>&) override {
    if (busy_.exchange(true)) ++record_.overlaps;
    std::this_thread::yield();
    {
      std::lock_guard<std::mutex> lock(record_.mutex);
      record_.timesByInstance[this].insert(time);
    }
    for (std::size_t i = 0; i < source.pixels.size(); ++i)
      output.pixels[i] = static_cast<unsigned char>(255 - source.pixels[i]);
    busy_ = false;
    if (time == record_.failAt) throw std::runtime_error("plug-in 'test' answered kOfxStatFailed");
  }

 private:
  Record& record_;
  std::atomic<bool> busy_{false};
};

class RecordingPlugin : public LoadedPlugin {
 public:
  explicit RecordingPlugin(Record& record, bool parallel = true) : record_(record) {
    description_ = WithDepths({"byte", "float"});
    description_.rendersInParallel = parallel;
  }
  const PluginDescription& description() const override { return description_; }
  std::unique_ptr<EffectInstance> createInstance() override {
    ++record_.instances;
    return std::make_unique<RecordingInstance>(record_);
  }

 private:
  Record& record_;
  PluginDescription description_;
};

class RenderPlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/lenstrove-job-XXXXXX";
    folder_ = ::mkdtemp(pattern);
    RgbaImage picture(4, 3, PixelDepth::Byte);
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) picture.pixels[i] = static_cast<unsigned char>(i * 5);
    WriteRgbaImage(folder_ + "/in.png", picture, {OIIO::TypeDesc::UINT8, true});
  }
  void TearDown() override { fs::remove_all(folder_); }

  RenderPlan PlanOf(int frames, int jobs) {
    RenderPlan plan;
    for (int f = 1; f <= frames; ++f)
      plan.tasks.push_back({folder_ + "/in.png", folder_ + "/out." + std::to_string(f) + ".png", double(f)});
    plan.jobs = jobs;
    return plan;
  }

  std::string folder_;
};

TEST_F(RenderPlanTest, EachWorkerHasItsOwnInstanceAndEveryFrameIsRenderedOnce) {
  Record record;
  RecordingPlugin plugin(record);
  ProgressBar progress(12, false);
  RunRenderPlan(plugin, PlanOf(12, 3), progress);
  EXPECT_EQ(record.instances, 3);
  EXPECT_EQ(record.overlaps, 0);
  std::multiset<double> all;
  for (const auto& [instance, times] : record.timesByInstance) all.insert(times.begin(), times.end());
  EXPECT_EQ(all.size(), 12u);
  EXPECT_EQ(std::set<double>(all.begin(), all.end()).size(), 12u);
  for (int f = 1; f <= 12; ++f) EXPECT_TRUE(fs::exists(folder_ + "/out." + std::to_string(f) + ".png"));
  const RgbaImage out = ReadRgbaImage(folder_ + "/out.7.png", PixelDepth::Byte, 100);
  EXPECT_EQ(out.pixels[0], 255);
  EXPECT_EQ(out.pixels[1], 250);
}

TEST_F(RenderPlanTest, APluginWithUnsafeRendersGetsASingleWorker) {
  Record record;
  RecordingPlugin plugin(record, false);
  ProgressBar progress(5, false);
  RunRenderPlan(plugin, PlanOf(5, 4), progress);
  EXPECT_EQ(record.instances, 1);
  EXPECT_EQ(record.timesByInstance.begin()->second.size(), 5u);
}

TEST_F(RenderPlanTest, AFailedFrameStopsTheJobAndLeavesNoFileForIt) {
  Record record;
  record.failAt = 2;
  RecordingPlugin plugin(record);
  ProgressBar progress(6, false);
  EXPECT_THROW(RunRenderPlan(plugin, PlanOf(6, 1), progress), std::runtime_error);
  EXPECT_TRUE(fs::exists(folder_ + "/out.1.png"));
  EXPECT_FALSE(fs::exists(folder_ + "/out.2.png"));
  // One worker renders in order, so nothing after the failure was started.
  EXPECT_FALSE(fs::exists(folder_ + "/out.3.png"));
  for (const auto& entry : fs::directory_iterator(folder_))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace lenstrove::cli
