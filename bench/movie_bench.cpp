// Movie throughput against the field's own tool: for each codec, a 1080p
// clip made by Debian's ffmpeg program is transcoded by that program to
// the same codec and settings (audio copied), and rendered by the
// lenstrove command with guides on (thirds and crosshair) into the same
// codec, one after the other in the same iteration, in alternating order,
// so both meet the same load on a shared machine. Each program runs as a
// child process; its wall time and its processor time (user + system, its
// threads together) are reported as counters, in seconds. bench/movie.sh
// takes the fastest of the repetitions and prints the ratios.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Codec {
  const char* name;       // the lenstrove --codec name, and the case's name
  const char* clip;       // the source clip's file name
  int frames;             // its length
  const char* encode;     // ffmpeg's arguments for the same codec and settings
  const char* audio;      // ffmpeg's arguments for the source clip's audio
};

// ProRes encodes slowly, so two seconds already take several; the faster
// codecs get ten seconds, so the programs' start-up does not weigh much.
const Codec kCodecs[] = {
    {"prores_hq", "prores-hq.mov", 48, "-c:v prores_ks -profile:v 3 -pix_fmt yuv422p10le", "-c:a pcm_s24le"},
    {"dnxhr_hq", "dnxhr-hq.mov", 240, "-c:v dnxhd -profile:v dnxhr_hq -pix_fmt yuv422p", "-c:a pcm_s24le"},
    {"h264", "h264.mp4", 240, "-c:v libx264 -pix_fmt yuv420p", "-c:a aac"},
};

const fs::path kFolder = LENSTROVE_BENCH_CLIPS;

struct Run {
  double wall = 0.0;  // seconds
  double cpu = 0.0;   // user + system seconds of the child and its threads
};

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::string word;
  for (char c : line + " ") {
    if (c != ' ') word += c;
    else if (!word.empty()) words.push_back(std::move(word)), word.clear();
  }
  return words;
}

Run Spawn(const std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) != 0)
    throw std::runtime_error("cannot start " + words[0]);
  int status = 0;
  struct rusage usage {};
  ::wait4(child, &status, 0, &usage);
  posix_spawn_file_actions_destroy(&actions);
  Run run;
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec * 1e-6;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(words[0] + " failed: " + words.back());
  return run;
}

// The source: a photograph panned slowly across the frame with a little
// grain, as a camera's picture has, and a tone as its audio. (The last
// scale gives the encoder whole frames: DNxHD crashes on cropped ones.)
std::string MakeClip(const Codec& codec) {
  const fs::path clip = kFolder / codec.clip, making = kFolder / (std::string("making-") + codec.clip);
  if (fs::exists(clip)) return clip;
  fs::create_directories(kFolder);
  const std::string seconds = std::to_string(codec.frames / 24.0);
  std::string source = codec.encode;
  if (std::string(codec.name) == "h264") source += " -preset veryfast -crf 14";  // a camera's high rate
  Spawn(Words("ffmpeg -nostdin -v error -y -loop 1 -framerate 24 -i " LENSTROVE_BENCH_PHOTO
              " -f lavfi -i sine=frequency=440:sample_rate=48000 -filter_complex "
              "[0:v]scale=2400:1600:flags=bicubic,crop=1920:1080:x=200+t*40:y=260,noise=alls=3:allf=t,"
              "scale=1920:1080[v] "
              "-map [v] -map 1:a -frames:v " + std::to_string(codec.frames) + " -t " + seconds + " -ac 2 " + source +
              " " + codec.audio + " -timecode 01:00:00:00 " + making.string()));
  fs::rename(making, clip);  // only a whole clip is used again
  return clip;
}

void Compare(benchmark::State& state, const Codec& codec, bool oneThread) {
  const std::string clip = MakeClip(codec);
  const std::string extension = fs::path(clip).extension();
  const std::string theirs = (kFolder / ("ffmpeg-out" + extension)).string();
  const std::string ours = (kFolder / ("lenstrove-out" + extension)).string();
  const std::string threads = oneThread ? " -threads 1" : "";
  const std::vector<std::string> ffmpeg =
      Words(std::string("ffmpeg -nostdin -v error -y") + (oneThread ? " -filter_threads 1" : "") + threads + " -i " +
            clip + threads + " " + codec.encode + " -c:a copy " + theirs);
  const std::vector<std::string> lenstrove =
      Words(std::string(LENSTROVE_BENCH_COMMAND) + " render -q -p " LENSTROVE_BENCH_BUNDLE + (oneThread ? " -j 1" : "") +
            " " + clip + " " + ours + " --codec " + codec.name + " GuideThirds=on GuideCrosshair=on");
  static int turn = 0;  // across cases and repetitions, so neither program always goes first
  Run best[2];
  bool first = true;
  for (auto _ : state) {
    Run runs[2];
    if (turn++ % 2 == 0) runs[0] = Spawn(ffmpeg), runs[1] = Spawn(lenstrove);
    else runs[1] = Spawn(lenstrove), runs[0] = Spawn(ffmpeg);
    state.SetIterationTime(runs[1].wall);
    for (int i = 0; i < 2; ++i) {
      if (first || runs[i].wall < best[i].wall) best[i].wall = runs[i].wall;
      if (first || runs[i].cpu < best[i].cpu) best[i].cpu = runs[i].cpu;
    }
    first = false;
  }
  state.counters["frames"] = codec.frames;
  state.counters["ffmpeg_wall"] = best[0].wall;
  state.counters["ffmpeg_cpu"] = best[0].cpu;
  state.counters["lenstrove_wall"] = best[1].wall;
  state.counters["lenstrove_cpu"] = best[1].cpu;
}

void Register() {
  for (const Codec& codec : kCodecs)
    for (const bool oneThread : {false, true})
      benchmark::RegisterBenchmark((std::string("movie/") + codec.name + (oneThread ? "/j1" : "/jdefault")).c_str(),
                                   [&codec, oneThread](benchmark::State& s) { Compare(s, codec, oneThread); })
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kSecond);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Register();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
