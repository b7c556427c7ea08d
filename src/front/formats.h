// The format units' registrations, in the order the module loads them.
#pragma once

namespace zan {

// Registers every format unit's classes and hooks. Called once at load.
void RegisterFormats();
// Empties the registries and hooks again.
void UnregisterFormats();

}  // namespace zan
