// The Turtle files of a bundle: manifest.ttl and the plug-in's description, from its port plan.
#pragma once

#include <filesystem>
#include <string>

#include "port_plan.h"

namespace mvlv2 {

bool plugin_class_known(const std::string& name);
std::string known_plugin_classes();
// An absolute URI a host can use as an identifier: a scheme, a colon, no spaces or brackets.
bool uri_is_usable(const std::string& uri);
// Writes manifest.ttl and STEM.ttl into `bundle`.
void write_ttl(const PortPlan& plan, const std::filesystem::path& bundle, const std::string& binary, const std::string& stem);

}  // namespace mvlv2
