#include "codec_table.h"

#include <stdexcept>

#include "muxer_probe.h"

namespace lenstrove::cli::movie {
namespace {

constexpr AVPixelFormat kNone = AV_PIX_FMT_NONE;
// FFV1 keeps the source's own format; this entry's formats are the
// fallback for sources it cannot store as they are (image sequences).
const std::vector<CodecChoice> kCodecs = {
    {"prores_proxy", "prores_ks", "proxy", AV_CODEC_ID_PRORES, FF_PROFILE_PRORES_PROXY, AV_PIX_FMT_YUV422P10,
     kNone, kNone, QualityKnob::QuantiserScale, "ProRes 422 Proxy"},
    {"prores_lt", "prores_ks", "lt", AV_CODEC_ID_PRORES, FF_PROFILE_PRORES_LT, AV_PIX_FMT_YUV422P10, kNone, kNone,
     QualityKnob::QuantiserScale, "ProRes 422 LT"},
    {"prores", "prores_ks", "standard", AV_CODEC_ID_PRORES, FF_PROFILE_PRORES_STANDARD, AV_PIX_FMT_YUV422P10, kNone,
     kNone, QualityKnob::QuantiserScale, "ProRes 422"},
    {"prores_hq", "prores_ks", "hq", AV_CODEC_ID_PRORES, FF_PROFILE_PRORES_HQ, AV_PIX_FMT_YUV422P10, kNone, kNone,
     QualityKnob::QuantiserScale, "ProRes 422 HQ"},
    {"prores_4444", "prores_ks", "4444", AV_CODEC_ID_PRORES, FF_PROFILE_PRORES_4444, AV_PIX_FMT_YUV444P10, kNone,
     AV_PIX_FMT_YUVA444P10, QualityKnob::QuantiserScale, "ProRes 4444, alpha kept"},
    {"dnxhr_lb", "dnxhd", "dnxhr_lb", AV_CODEC_ID_DNXHD, FF_PROFILE_DNXHR_LB, AV_PIX_FMT_YUV422P, kNone, kNone,
     QualityKnob::None, "DNxHR LB, 8-bit 4:2:2"},
    {"dnxhr_sq", "dnxhd", "dnxhr_sq", AV_CODEC_ID_DNXHD, FF_PROFILE_DNXHR_SQ, AV_PIX_FMT_YUV422P, kNone, kNone,
     QualityKnob::None, "DNxHR SQ, 8-bit 4:2:2"},
    {"dnxhr_hq", "dnxhd", "dnxhr_hq", AV_CODEC_ID_DNXHD, FF_PROFILE_DNXHR_HQ, AV_PIX_FMT_YUV422P, kNone, kNone,
     QualityKnob::None, "DNxHR HQ, 8-bit 4:2:2"},
    {"dnxhr_hqx", "dnxhd", "dnxhr_hqx", AV_CODEC_ID_DNXHD, FF_PROFILE_DNXHR_HQX, AV_PIX_FMT_YUV422P10, kNone, kNone,
     QualityKnob::None, "DNxHR HQX, 10-bit 4:2:2"},
    {"dnxhr_444", "dnxhd", "dnxhr_444", AV_CODEC_ID_DNXHD, FF_PROFILE_DNXHR_444, AV_PIX_FMT_YUV444P10, kNone, kNone,
     QualityKnob::None, "DNxHR 444, 10-bit 4:4:4"},
    {"h264", "libx264", nullptr, AV_CODEC_ID_H264, -1, AV_PIX_FMT_YUV420P, kNone, kNone,
     QualityKnob::ConstantRateFactor, "H.264, 8-bit 4:2:0"},
    {"h265", "libx265", nullptr, AV_CODEC_ID_HEVC, -1, AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV420P10, kNone,
     QualityKnob::ConstantRateFactor, "H.265, 4:2:0, 10-bit from deep sources"},
    {"ffv1", "ffv1", nullptr, AV_CODEC_ID_FFV1, -1, AV_PIX_FMT_BGR0, AV_PIX_FMT_GBRP16, AV_PIX_FMT_BGRA,
     QualityKnob::None, "FFV1 lossless, the source's own pixel format"},
};

const CodecChoice& Named(const char* name) { return FindCodec(name); }

}  // namespace

const std::vector<CodecChoice>& Codecs() { return kCodecs; }

std::string CodecNames() {
  std::string names;
  for (const CodecChoice& c : kCodecs) names += (names.empty() ? "" : ", ") + std::string(c.name);
  return names;
}

const CodecChoice& FindCodec(const std::string& name) {
  for (const CodecChoice& c : kCodecs)
    if (name == c.name) return c;
  throw std::runtime_error("unknown codec '" + name + "' (codecs: " + CodecNames() + ")");
}

const CodecChoice& DefaultCodec(const std::string& outputPath, AVCodecID inputCodec, int inputProfile) {
  const CodecChoice* sameCodec = nullptr;
  for (const CodecChoice& c : kCodecs)
    if (c.id == inputCodec && (c.sourceProfile < 0 || c.sourceProfile == inputProfile) && !sameCodec) sameCodec = &c;
  const std::string extension = Extension(outputPath);
  const AVOutputFormat* container = av_guess_format(nullptr, outputPath.c_str(), nullptr);
  if (sameCodec && container != nullptr) {
    const PictureStreamStandIn standIn(sameCodec->id, sameCodec->sourceProfile);
    if (MuxerAccepts(container, {standIn.stream()})) return *sameCodec;
  }
  if (extension == "mov") return Named("prores_hq");
  if (extension == "mxf") return Named("dnxhr_hq");
  if (extension == "mp4" || extension == "m4v") return Named("h264");
  return Named("ffv1");
}

}  // namespace lenstrove::cli::movie
