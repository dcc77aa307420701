#pragma once

// Registers the images of resources/resources.qrc (":/image/..."). They are compiled into the static library
// pxlui, whose resource object the linker leaves out unless something calls this; call it once before the
// first window is made. Calling it again does no harm.
void InitUiResources();
