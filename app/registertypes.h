#pragma once

// Registers every compiled type with QML. Called by main and by the QML test
// setup, so that tests see exactly the types the application sees.
void registerQmlTypes();
