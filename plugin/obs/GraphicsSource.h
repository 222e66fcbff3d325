#pragma once

namespace corvane {

// The "corvane_graphics" input: one of the account's cloud graphics outputs, drawn by a
// private OBS browser source that this source keeps pointed at the output's page.
void registerGraphicsSource();

} // namespace corvane
