import QtQuick 2.15
import QtTest 1.2
import "qrc:/"

TestCase {
    name: "Globals"

    function test_fieldWidth() {
        compare(Globals.fieldWidth(1000, 0.25, 4), 231.25)
    }
}
