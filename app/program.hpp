#pragma once
// What the vurle program hands the shell of the parts built above it (the
// agreement store lives with the onboarding), for a user's launch and for a
// scenario run alike. Only the program and its own tests link this.
#include "app/app_delegate.hpp"
#include "app/scenario_run.hpp"

namespace vurle {

// The delegate's seams as the program fills them today.
ShellSeams programSeams();
// A scenario run's launch: the agreement accepted in the run's own
// settings, and the delegate made as for a user's launch.
ScenarioLaunch programScenarioLaunch();

}  // namespace vurle
