// The full-state dictionary a host saves with its projects and presets: text keys, each holding a
// number or a text. Flat; nothing nests.
//
// Threads: a plain value; whoever holds it.
#pragma once

#include <map>
#include <string>
#include <variant>

using StateValue = std::variant<double, std::string>;
using StateDictionary = std::map<std::string, StateValue, std::less<>>;
