#pragma once

// Makes the interface's font, the Assistant family compiled into the resources, the
// application's default font, so every text the QML does not style itself uses it too.
// Call once the application object exists and before the root QML file is loaded.
// Returns false when a face could not be registered (the platform font is kept then).
bool installInterfaceFont();
