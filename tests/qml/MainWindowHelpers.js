.pragma library
// Shared by the root-window tests: find texts on screen and wait for start-up.

// The first visible item under root (depth first) whose text is exactly text.
function findVisibleText(root, text) {
    if (!root || !root.visible)
        return null
    if (root.text === text)
        return root
    var children = root.children
    for (var i = 0; i < children.length; ++i) {
        var found = findVisibleText(children[i], text)
        if (found)
            return found
    }
    return null
}
