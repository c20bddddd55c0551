#pragma once

#include <string>

namespace velgor {

// Start-up's check of the settings directory (empty = the working directory):
// creates "testNaWriteFile.txt" and deletes it again. The file is created
// exclusively, so a file of that name that is already there is never touched
// or deleted. The outcome is not reported; the settings are read and written
// by their names in any case.
void probeSettingsDir(const std::string& dir);

}  // namespace velgor
