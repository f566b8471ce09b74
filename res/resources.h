// Hands the program's resources to the dialog framework: dialog templates 100, 102 and 136 with their
// combo-box lists, and icon 128. The front end calls RegisterProgramResources once at start-up.
#pragma once

namespace pw {

void RegisterProgramResources();
// The dialog templates alone.
void RegisterDialogTemplates();

} // namespace pw
