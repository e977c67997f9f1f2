#pragma once
// The program's compiled-in pictures (":/icons/..."). The GUI library is
// static, so its resources must be registered by a call that the linker
// keeps; every window that shows a picture calls this first.

namespace duplora {

// Registers the resources once; later calls do nothing.
void InitAppResources();

} // namespace duplora
