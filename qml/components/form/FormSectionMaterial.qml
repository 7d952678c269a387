import QtQuick 2.15

FormSection {
    property QtObject document: null

    sectionKey: "material"
    title: qsTr("Material")

    onDocumentChanged: {
        if (document === null)
            return
        targets = { "document": document }
        fill()
    }
}
