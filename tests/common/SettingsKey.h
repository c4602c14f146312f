// The key below HKEY_CURRENT_USER where Tarvex keeps its settings, named once for the tests and benchmarks.
#pragma once

constexpr const char kTarvexSettingsKey[] = "Software\\Qelmarch\\Tarvex";
