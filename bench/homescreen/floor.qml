// The modules the interface imports, in a bare window painted in the home
// sidebar's colour, so the benchmark sees its first frame the same way.
import QtQuick 2.15
import QtQuick.Window 2.15
import QtQuick.Controls 2.15
import QtQuick.Controls 1.4 as Controls1
import QtQuick.Dialogs 1.3
import QtQuick.Layouts 1.15
import QtQml.Models 2.15
import QtGraphicalEffects 1.15
import QtWebEngine 1.10
import Qt.labs.settings 1.1
import Qt.labs.platform 1.1 as Platform

ApplicationWindow {
    visible: true
    width: 1280
    height: 720
    title: "Gelvantrium"
    color: "#424241"
}
