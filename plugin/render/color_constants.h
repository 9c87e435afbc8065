#pragma once

// The numbers behind the colour operations, shared by the stage functions
// and the vector kernels so both compute with the same single-precision
// values.

namespace lenstrove::color {

// ITU-R BT.709 luma weights.
constexpr float kLumaWeightRed = 0.2126f;
constexpr float kLumaWeightGreen = 0.7152f;
constexpr float kLumaWeightBlue = 0.0722f;

// Full range onto video levels 16..235.
constexpr float kLegalScale = 219.0f / 255.0f;
constexpr float kLegalOffset = 16.0f / 255.0f;

// False-colour band edges: below kPurpleBelow, up to kBlueBelow, the closed
// ranges kGreenFrom..kGreenTo and kPinkFrom..kPinkTo, and above kRedAbove.
constexpr float kPurpleBelow = 0.05f;
constexpr float kBlueBelow = 0.1f;
constexpr float kGreenFrom = 0.4f;
constexpr float kGreenTo = 0.45f;
constexpr float kPinkFrom = 0.52f;
constexpr float kPinkTo = 0.58f;
constexpr float kRedAbove = 0.95f;

struct Rgb {
  float r, g, b;
};

// The band colours, in the order the bands are tested.
constexpr Rgb kFalseColorBandColors[5] = {
    {0.5f, 0.0f, 0.5f},  // purple: crushed blacks
    {0.0f, 0.0f, 1.0f},  // blue: deep shadows
    {0.0f, 1.0f, 0.0f},  // green: middle gray
    {1.0f, 0.4f, 0.6f},  // pink: skin
    {1.0f, 0.0f, 0.0f},  // red: clipping
};

}  // namespace lenstrove::color
