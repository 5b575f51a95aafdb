#include "actions/sound_action.h"

#include <gtest/gtest.h>

namespace sentrel {
namespace {

TEST(SoundActionValues, PeriodBelowTheMinimumTakesTheMinimum) {
  auto action = CreateAction(kSoundAction);
  OfferLine(action->Params(), "SndPeriod=50\n");
  auto* period = static_cast<IntParam*>(action->Params()[6]);
  EXPECT_EQ(period->Name(), "SndPeriod");
  EXPECT_EQ(period->Value(), 100);
}

}  // namespace
}  // namespace sentrel
