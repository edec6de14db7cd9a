// The player's host table for component client libraries: memory from the C
// heap, components loaded by the "library" file the component search finds.
#pragma once

#include "include/component_services.h"

namespace sxplayer {

// Version 2 table whose load_component finds "library" through the
// component search and loads it with the platform's LoadLibrary/dlopen.
ComponentServices host_services();

// The component search: the same contract as find_component_file.
int32_t find_component_item(const char* component, const char* key, char* buffer, int32_t size);

}  // namespace sxplayer
