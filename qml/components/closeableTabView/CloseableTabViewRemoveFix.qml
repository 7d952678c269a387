import QtQuick 2.15

// Empty content: given to a tab just before it is removed, so that the bindings
// of its form do not run against a document that is going away.
Item {
}
