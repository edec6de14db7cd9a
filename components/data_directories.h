// The per-user and system data directories and the named component
// directories ("Components-System", "Components-User").
#pragma once

#include <string>

#include "components/file_path.h"

namespace sx {

bool user_data_directory(FilePath* directory);
bool system_data_directory(FilePath* directory);

// Looks the data directories up (creating them if missing) and registers the
// "components" folder inside each. Called once by each program before it uses
// the component search; later calls leave the first entries in place.
void register_component_directories();

bool find_component_directory(const std::string& name, FilePath* directory);

// Forgets every registered directory. For tests that run several programs'
// start-up in one process.
void reset_component_directories();

}  // namespace sx
