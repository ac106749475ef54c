#include "link/port_list.h"

#include <libserialport.h>

namespace lumidex {

std::optional<std::vector<std::string>> ListSerialPorts() {
    sp_port** ports = nullptr;
    if (sp_list_ports(&ports) != SP_OK) {
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (sp_port** port = ports; port != nullptr && *port != nullptr; ++port) {
        if (const char* name = sp_get_port_name(*port)) {
            names.emplace_back(name);
        }
    }
    sp_free_port_list(ports);
    return names;
}

} // namespace lumidex
