// The library's copy of the host table taken at component_client_init.
#pragma once

#include "include/component_services.h"

namespace ruvane {

const ComponentServices& host_services();
void set_host_services(const ComponentServices* table);

}  // namespace ruvane
