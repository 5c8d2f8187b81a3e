// SPDX-License-Identifier: BSD-3-Clause
// The catalogue of failure texts: every code has words of its own, every mark can be
// filled, and a raised failure carries exactly its text.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>

#include "base/failures.h"

namespace vornek {
namespace {

TEST(Failures, EveryCodeHasWordsOfItsOwnAndEveryMarkIsFilled) {
  // The framework's own words, kept as hosts and tests know them, end without a stop.
  const std::set<TFailure> without_stop = {TFailure::faOutputBusy, TFailure::faInputNotAssigned,
                                           TFailure::faInputBusy, TFailure::faInputNameNotAssigned,
                                           TFailure::faNotOpened, TFailure::faFileFailure, TFailure::faAttributesNotKept, TFailure::faOutputExists,
                                           TFailure::faAssignNothing, TFailure::faAssign};
  std::set<std::string_view> seen;
  const int last = static_cast<int>(kLastFailure);
  for (int code = 0; code <= last; ++code) {
    const auto failure = static_cast<TFailure>(code);
    const std::string_view words = FailureTemplate(failure);
    SCOPED_TRACE(std::to_string(code) + ": " + std::string(words));
    ASSERT_FALSE(words.empty());
    EXPECT_TRUE(seen.insert(words).second) << "the same words for two codes";
    const std::string filled = FailureText(failure, {"DETAIL", "DETAIL", "DETAIL"});
    EXPECT_EQ(filled.find("{}"), std::string::npos);
    EXPECT_EQ(filled.find("DETAIL") != std::string::npos, words.find("{}") != std::string_view::npos);
    if (without_stop.count(failure) == 0) {
      EXPECT_EQ(filled.back(), '.');
    }
  }
}

TEST(Failures, ARaisedFailureCarriesItsTextWithItsDetailsInTurn) {
  try {
    Raise(TFailure::faMpegConversion, {"2 channels at 44100 Hz", "the codec was busy"});
    FAIL() << "nothing was raised";
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(),
                 "The MPEG Layer 3 data (2 channels at 44100 Hz) could not be converted to PCM: the codec was "
                 "busy.");
  }
  // Fewer details than marks leave the rest unfilled; more are ignored.
  EXPECT_EQ(FailureText(TFailure::faFileFailure, {"song.flac"}), "song.flac: {}");
  EXPECT_EQ(FailureText(TFailure::faNoData, {"extra"}), "The WAV file has no audio data chunk.");
}

}  // namespace
}  // namespace vornek
