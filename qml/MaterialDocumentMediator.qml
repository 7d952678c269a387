pragma Singleton
import QtQuick 2.15
import Qt.labs.settings 1.1
import Qt.labs.platform 1.1 as Platform
import com.vtr.MaterialDocumentManagementLib 1.0
import com.vtr.Gelvantrium 1.0
import "."

// The open material documents (one per tab), the current one, unsaved-change
// detection, validation, saving, distributing and the recent-materials list.
Item {
    id: mediator

    property QtObject document: null
    property string documentFileDirectoryPath: directoryKeyFromUrl(
        Platform.StandardPaths.writableLocation(Platform.StandardPaths.DocumentsLocation))
    property string documentFilename: ""
    property QtObject machine: null
    property QtObject qualityLevel: null
    property QtObject cycleSetting: null
    property var formValidationErrorMessages: []
    property string documentLastSavedHash: ""
    property string documentKey: ""

    // Documents whose form has not filled yet, by key: true for a created one,
    // false for an opened one.
    property var unfilledDocuments: ({})

    property int numberOfNewMaterials: 0
    readonly property int maximumAmountOfRecentFiles: 10

    property ListModel documents: ListModel {}
    property ListModel recentFiles: ListModel {}

    signal openNewFormTabSignal()
    signal closeTabSignal(string key)
    signal tabKeyChangedSignal(string oldKey, string newKey)
    signal documentSwitchedSignal(string key)

    Utilities {
        id: utility
    }

    Settings {
        id: documentSettings
        category: "Document"
        property string datastore: ""
    }

    Component {
        id: documentComponent
        PelluxMaterialDocument {}
    }
    Component {
        id: machineComponent
        Machine {}
    }
    Component {
        id: qualityLevelComponent
        QualityLevel {}
    }

    // True while the stored list could not be read and nothing has replaced it:
    // the user's text is then kept on exit instead of being overwritten.
    property bool storedRecentFilesUnreadable: false

    Component.onCompleted: {
        var fallback = []
        var stored = Globals.parseStoredJson(documentSettings.datastore, fallback, true, "recent materials")
        storedRecentFilesUnreadable = stored === fallback && documentSettings.datastore !== ""
        for (var i = 0; i < stored.length; ++i) {
            var entry = stored[i]
            if (entry === null || typeof entry !== "object" || typeof entry.path !== "string")
                continue
            recentFiles.append(recentEntry(entry.fileName, entry.path, entry.printerModel, entry.lastUpdatedDate,
                                           entry.friendlyColor))
        }
    }

    Component.onDestruction: {
        if (!storedRecentFilesUnreadable)
            storeRecentFiles()
    }

    // ---- paths and keys ----

    // The local path of a document URL. A QUrl (from a file dialog or an open-file
    // event) is converted as a URL; a text is a document key or a path and is only
    // stripped of its "file:///" prefix, so '#', '?', '%' and blanks stay part of
    // the name.
    function localPathFromUrl(fileURL) {
        if (fileURL === undefined || fileURL === null)
            return ""
        if (typeof fileURL === "object")
            return utility.filePathFromURL(fileURL)
        var text = String(fileURL)
        if (text.indexOf(Globals.filePrefix) === 0) {
            text = text.substring(Globals.filePrefix.length)
            // "file:///tmp/a" names /tmp/a, as a key "file:////tmp/a" does.
            if (text !== "" && text.charAt(0) !== "/")
                text = "/" + text
        }
        if (text === "")
            return ""
        return utility.absolutePathFromPath(text)
    }

    function keyFromPath(path) {
        return Globals.filePrefix + utility.absolutePathFromPath(path)
    }

    function keyFromUrl(fileURL) {
        var path = localPathFromUrl(fileURL)
        return path === "" ? "" : keyFromPath(path)
    }

    function isFileKey(key) {
        return key.indexOf(Globals.filePrefix) === 0
    }

    function localPathFromKey(key) {
        return isFileKey(key) ? key.substring(Globals.filePrefix.length) : key
    }

    property url convertedUrl

    // The file URL (a url value, percent-encoded) of a local path.
    function urlFromLocalPath(path) {
        var parts = path.split("/")
        for (var i = 0; i < parts.length; ++i)
            parts[i] = encodeURIComponent(parts[i])
        var encoded = parts.join("/")
        convertedUrl = "file://" + (encoded.charAt(0) === "/" ? "" : "/") + encoded
        return convertedUrl
    }

    function urlFromKey(key) {
        return urlFromLocalPath(localPathFromKey(key))
    }

    function fileNameFromKey(key) {
        return utility.fileNameFromPath(key)
    }

    // The key with its file name cut off at the end, so a folder that contains
    // the file's name is kept whole.
    function directoryFromKey(key) {
        var name = fileNameFromKey(key)
        if (name !== "" && key.length >= name.length && key.lastIndexOf(name) === key.length - name.length)
            return key.substring(0, key.length - name.length)
        return key
    }

    function directoryKeyFromUrl(url) {
        var path = utility.filePathFromURL(url)
        if (path === "")
            return Globals.filePrefix
        return Globals.filePrefix + path + (path.charAt(path.length - 1) === "/" ? "" : "/")
    }

    function fileExistsForKey(key) {
        return isFileKey(key) && utility.fileExists(urlFromKey(key))
    }

    // ---- structure check ----

    function structureCheck(doc) {
        if (doc === null || doc === undefined)
            return qsTr("Failed to load material document.")
        if (doc.machines === undefined || doc.machines === null)
            return qsTr("Failed to find a valid machine for applying material settings.")
        if (doc.machines.length > 1)
            return qsTr("Loaded material document is invalid. Multiple machines are not allowed")
        if (doc.machines.length === 0)
            return qsTr("Machine needs selected.")
        var levels = doc.machines[0].qualityLevels
        // The form edits exactly one quality level: a machine without one cannot be shown.
        if (levels === undefined || levels === null || levels.length === 0)
            return qsTr("Failed to find a valid quality level for applying material settings.")
        if (levels.length > 1)
            return qsTr("Loaded material document is invalid. Multiple quality levels are not allowed")
        return ""
    }

    function makeCurrent(doc, key) {
        document = doc
        machine = doc.machines[0]
        qualityLevel = machine.qualityLevels[0]
        cycleSetting = qualityLevel.cycleSettings
        documentKey = key
    }

    // ---- create, open, switch, close ----

    function createDocument(machineModelName) {
        addDocument()
        var doc = documentComponent.createObject(mediator)
        var newMachine = doc ? machineComponent.createObject(doc) : null
        var level = doc ? qualityLevelComponent.createObject(doc) : null
        if (!doc || !newMachine || !level) {
            console.warn("Required Object is null")
            if (doc)
                doc.destroy()
            return false
        }
        newMachine.modelName = newMachine.machineModelNameFromString(machineModelName)
        newMachine.qualityLevels = [level]
        doc.machines = [newMachine]

        numberOfNewMaterials += 1
        var key = Globals.newMaterialDefaultFilenamePrefix + numberOfNewMaterials
        makeCurrent(doc, key)
        documentFilename = key
        formValidationErrorMessages = []
        var problem = structureCheck(doc)
        if (problem !== "")
            console.warn(problem)
        documentLastSavedHash = doc.ToXMLString()
        unfilledDocuments[key] = true
        openNewFormTabSignal()
        return true
    }

    // Called by a form once it has filled its fields. An opened document is clean
    // after that: what the form marks on filling is no change of the user's. True
    // when the document was created in this run and this is its first fill.
    function formFilled(key) {
        if (!unfilledDocuments.hasOwnProperty(key))
            return false
        var created = unfilledDocuments[key]
        delete unfilledDocuments[key]
        if (created)
            return true
        if (key === documentKey && document !== null) {
            documentLastSavedHash = document.ToXMLString()
        } else {
            var index = getDocumentIndexByKey(key)
            if (index >= 0 && documents.get(index).document !== null)
                documents.setProperty(index, "documentLastSavedHash", documents.get(index).document.ToXMLString())
        }
        return false
    }

    function loadDocument(fileURL) {
        if (fileURL === undefined || fileURL === null || String(fileURL) === "")
            return undefined
        var key = keyFromUrl(fileURL)
        if (key === "")
            return qsTr("Failed to load material document.")
        if (getDocumentIndexByKey(key) >= 0 || key === documentKey) {
            switchDocument(key)
            openNewFormTabSignal()
            return true
        }
        var doc = documentComponent.createObject(mediator)
        if (!doc) {
            console.warn("Required Object is null")
            return undefined
        }
        doc.readFromPath(localPathFromKey(key))
        if (doc.hasError) {
            var error = doc.errorString
            console.error(error)
            doc.destroy()
            return error
        }
        var problem = structureCheck(doc)
        if (problem !== "") {
            doc.destroy()
            return problem
        }
        addDocument()
        makeCurrent(doc, key)
        documentFilename = fileNameFromKey(key)
        documentFileDirectoryPath = directoryFromKey(key)
        formValidationErrorMessages = []
        addRecentFile(documentFilename, key, machine.machineModelNameToString(machine.modelName),
                      currentDateText(), colorText(doc))
        documentLastSavedHash = doc.ToXMLString()
        unfilledDocuments[key] = false
        openNewFormTabSignal()
        return true
    }

    function switchDocument(key) {
        addDocument()
        copyToCurrentDocument(key)
        documentSwitchedSignal(documentKey)
        return true
    }

    function addDocument() {
        if (documentKey === "" || document === null)
            return
        var index = getDocumentIndexByKey(documentKey)
        if (index >= 0) {
            var replaced = documents.get(index).document
            documents.remove(index)
            // Another document stored under this key (its file was just saved over)
            // is gone with its tab.
            if (replaced !== null && replaced !== document)
                replaced.destroy()
        }
        documents.append({
            "documentKey": documentKey,
            "document": document,
            "documentFileDirectoryPath": documentFileDirectoryPath,
            "documentFilename": documentFilename,
            "machine": machine,
            "qualityLevel": qualityLevel,
            "cycleSetting": cycleSetting,
            "formValidationErrorMessages": JSON.stringify(formValidationErrorMessages),
            "documentLastSavedHash": documentLastSavedHash
        })
    }

    function copyToCurrentDocument(key) {
        var index = getDocumentIndexByKey(key)
        if (index < 0)
            return
        var entry = documents.get(index)
        documentKey = entry.documentKey
        document = entry.document
        documentFileDirectoryPath = entry.documentFileDirectoryPath
        documentFilename = entry.documentFilename
        machine = entry.machine
        qualityLevel = entry.qualityLevel
        cycleSetting = entry.cycleSetting
        documentLastSavedHash = entry.documentLastSavedHash
        validateDocumentFields()
    }

    // Forgets the document and frees it; its tab (and form) is already gone.
    function closeDocument(key) {
        delete unfilledDocuments[key]
        var doc = null
        var index = getDocumentIndexByKey(key)
        if (index >= 0) {
            doc = documents.get(index).document
            documents.remove(index)
        }
        if (key === documentKey) {
            if (doc === null)
                doc = document
            documentKey = ""
            document = null
            machine = null
            qualityLevel = null
            cycleSetting = null
            formValidationErrorMessages = []
        }
        if (doc !== null && doc !== document)
            doc.destroy()
    }

    function openDocumentKeys() {
        var keys = []
        for (var i = 0; i < documents.count; ++i)
            keys.push(documents.get(i).documentKey)
        // The current document is stored only when another one becomes current.
        if (documentKey !== "" && keys.indexOf(documentKey) < 0)
            keys.push(documentKey)
        return keys
    }

    function closeAllDocuments() {
        var keys = openDocumentKeys()
        for (var i = 0; i < keys.length; ++i) {
            if (documentHasUnsavedChanges(keys[i])) {
                closeTabSignal(keys[i])
                return false
            }
        }
        return true
    }

    function getDocumentIndexByKey(key) {
        for (var i = 0; i < documents.count; ++i) {
            if (documents.get(i).documentKey === key)
                return i
        }
        return -1
    }

    // ---- unsaved changes ----

    // The "hash" is the XML text itself; undefined for an unknown key or a missing document.
    function hashDocument(key) {
        if (key === undefined || key === documentKey)
            return document ? document.ToXMLString() : undefined
        var index = getDocumentIndexByKey(key)
        if (index < 0)
            return undefined
        var doc = documents.get(index).document
        return doc ? doc.ToXMLString() : undefined
    }

    function documentHasUnsavedChanges(key) {
        var hash = hashDocument(key)
        if (hash === undefined)
            return false
        if (key === undefined || key === documentKey)
            return hash !== documentLastSavedHash
        return hash !== documents.get(getDocumentIndexByKey(key)).documentLastSavedHash
    }

    function anyDocumentHasUnsavedChanges() {
        var keys = openDocumentKeys()
        for (var i = 0; i < keys.length; ++i) {
            if (documentHasUnsavedChanges(keys[i]))
                return true
        }
        return false
    }

    // ---- validation ----

    function validateDocumentFields() {
        if (document === null || machine === null || qualityLevel === null || cycleSetting === null) {
            formValidationErrorMessages = []
            return
        }
        document.Validate(true)
        machine.Validate()
        qualityLevel.Validate(true)
        cycleSetting.Validate()
        var all = [].concat(document.validationErrorMessage, machine.validationErrorMessage,
                            qualityLevel.validationErrorMessage, cycleSetting.validationErrorMessage)
        var ignored = Globals.ignoredValidationFields
        formValidationErrorMessages = all.filter(function (message) {
            for (var i = 0; i < ignored.length; ++i) {
                if (message.indexOf(ignored[i]) !== -1)
                    return false
            }
            return true
        })
    }

    // ---- save and distribute ----

    // Returns the document's key on success, otherwise the reason. Nothing about
    // the current document changes unless the file was written.
    function saveDocument(fileURL) {
        if (document === null)
            return qsTr("There is no document to save.")
        var path = localPathFromUrl(fileURL)
        if (path === "")
            return qsTr("The chosen location is not a local file.")
        var newKey = keyFromPath(path)
        if (newKey !== documentKey && getDocumentIndexByKey(newKey) >= 0 && documentHasUnsavedChanges(newKey)) {
            var refusal = qsTr("%1 is open in another tab with unsaved changes. Save or close that tab first.")
                .arg(localPathFromKey(newKey))
            console.warn(refusal)
            return refusal
        }
        document.writeToPath(localPathFromKey(newKey))
        if (document.hasError) {
            console.error(document.errorString)
            return document.errorString
        }
        documentFilename = fileNameFromKey(newKey)
        documentFileDirectoryPath = directoryFromKey(newKey)
        var oldKey = documentKey
        var keyChanged = newKey !== oldKey
        if (keyChanged) {
            var oldIndex = getDocumentIndexByKey(oldKey)
            if (oldIndex >= 0)
                documents.remove(oldIndex)
            documentKey = newKey
        }
        documentLastSavedHash = document.ToXMLString()
        if (keyChanged) {
            switchDocument(newKey)
            tabKeyChangedSignal(oldKey, newKey)
        }
        addRecentFile(documentFilename, newKey, machine.machineModelNameToString(machine.modelName),
                      currentDateText(), colorText(document))
        return newKey
    }

    // Valid group keys give AES-128, -192 or -256 (an odd last character is ignored).
    function groupKeyLengthValid(groupKey) {
        var n = groupKey.length
        return n === 32 || n === 33 || n === 48 || n === 49 || n === 64 || n === 65
    }

    readonly property string invalidGroupKeyMessage:
        qsTr("The group key must be 32, 48 or 64 characters long. Set a valid group key in the Settings section of the Home screen.")

    // Returns true, or the reason for the failure.
    function distributeDocument(fileURL) {
        if (!DistributionMediator.distributionPasswordValid)
            return qsTr("A valid distrbution password must be set in Settings before distributing a material document")
        var groupKey = Globals.settingsUser_GetGroupKey()
        if (!groupKeyLengthValid(groupKey))
            return invalidGroupKeyMessage
        if (document === null)
            return qsTr("There is no document to distribute.")
        var path = localPathFromUrl(fileURL)
        if (path === "")
            return qsTr("Failed to write the distributable document to path - ") + String(fileURL)

        // The flag marks only the distributed text; the open document keeps what it had.
        var previousFlag = document.distributedFlag
        var previousFlags = document.xmlFlags
        document.distributedFlag = true
        var xml = document.ToXMLString()
        document.distributedFlag = previousFlag
        document.xmlFlags = previousFlags

        console.debug("encrypting xml value of length =", xml.length)
        if (!utility.encryptedDataToPath(urlFromLocalPath(path), DistributionMediator.distributionPassword,
                                         groupKey, xml)) {
            return qsTr("Failed to write the distributable document to path - ") + String(fileURL)
        }
        return true
    }

    // ---- recent materials ----

    function currentDateText() {
        var now = new Date()
        return now.toLocaleDateString() + " " + now.toLocaleTimeString()
    }

    function colorText(doc) {
        return String(Qt.rgba(doc.friendlyColorRed / 255, doc.friendlyColorGreen / 255,
                              doc.friendlyColorBlue / 255, 1))
    }

    function addRecentFile(fileName, fileURL, printerModel, currentDate, color) {
        var path = String(fileURL)
        for (var i = 0; i < recentFiles.count; ++i) {
            if (recentFiles.get(i).path === path) {
                recentFiles.remove(i)
                break
            }
        }
        recentFiles.insert(0, recentEntry(fileName, path, Globals.getPrinterFriendlyName(printerModel), currentDate, color))
        sortRecentFiles()
        storeRecentFiles()
    }

    function storeRecentFiles() {
        var entries = []
        for (var i = 0; i < recentFiles.count; ++i)
            entries.push(copyRecentEntry(i))
        var text = JSON.stringify(entries)
        documentSettings.datastore = text
        // Written through at once: a list stored only after a delay or at exit is lost
        // when the process ends first.
        documentSettings.setValue("datastore", text)
        documentSettings.sync()
        storedRecentFilesUnreadable = false
    }

    function parseRecentDate(text) {
        var date = Date.fromLocaleString(Qt.locale(), text, "dddd, MMMM d, yyyy h:mm:ss A")
        return (date instanceof Date && !isNaN(date.getTime())) ? date : null
    }

    // Newest first; entries whose date text does not read keep their places.
    function sortRecentFiles() {
        verifyRecentFiles()
        var slots = []
        var dated = []
        var i
        for (i = 0; i < recentFiles.count; ++i) {
            var date = parseRecentDate(recentFiles.get(i).lastUpdatedDate)
            if (date !== null) {
                slots.push(i)
                dated.push({ "time": date.getTime(), "order": i, "entry": copyRecentEntry(i) })
            }
        }
        dated.sort(function (a, b) { return b.time !== a.time ? b.time - a.time : a.order - b.order })
        for (i = 0; i < slots.length; ++i)
            recentFiles.set(slots[i], dated[i].entry)
    }

    // One entry of the recent list; a missing value is stored as "".
    function recentEntry(fileName, path, printerModel, lastUpdatedDate, friendlyColor) {
        var text = function (value) { return value === undefined || value === null ? "" : String(value) }
        return { "fileName": text(fileName), "path": text(path), "printerModel": text(printerModel),
                 "lastUpdatedDate": text(lastUpdatedDate), "friendlyColor": text(friendlyColor) }
    }

    function copyRecentEntry(index) {
        var entry = recentFiles.get(index)
        return recentEntry(entry.fileName, entry.path, entry.printerModel, entry.lastUpdatedDate, entry.friendlyColor)
    }

    function verifyRecentFiles() {
        var i
        for (i = recentFiles.count - 1; i >= 0; --i) {
            if (!fileExistsForKey(recentFiles.get(i).path))
                recentFiles.remove(i)
        }
        if (recentFiles.count > maximumAmountOfRecentFiles)
            recentFiles.remove(maximumAmountOfRecentFiles, recentFiles.count - maximumAmountOfRecentFiles)
        var files = []
        for (i = 0; i < recentFiles.count; ++i) {
            var entry = recentFiles.get(i)
            files.push(getShortFilenameObject(entry.fileName, entry.path))
        }
        makeShortFilenamesUnique(files)
        for (i = 0; i < recentFiles.count; ++i) {
            if (recentFiles.get(i).path === files[i].filePath)
                recentFiles.setProperty(i, "fileName", files[i].filename)
        }
    }

    function removeRecentFile(index) {
        if (index < 0 || index >= recentFiles.count)
            return false
        recentFiles.remove(index)
        storeRecentFiles()
        return true
    }

    function getShortFilenameObject(filename, filePath) {
        return { "filename": filename, "filePath": filePath }
    }

    // One more parent folder in front of the object's name; the same name when
    // there is none left.
    function nameWithParent(file) {
        var rest = String(file.filePath)
        if (rest.indexOf(Globals.filePrefix) === 0)
            rest = rest.substring(Globals.filePrefix.length)
        var name = file.filename
        if (rest.length < name.length || rest.lastIndexOf(name) !== rest.length - name.length)
            return name
        rest = rest.substring(0, rest.length - name.length)
        if (rest.length <= 1)
            return name
        rest = rest.substring(0, rest.length - 1)
        return rest.substring(rest.lastIndexOf("/") + 1) + "/" + name
    }

    function makeShortFilenamesUnique(files) {
        var i
        for (i = 0; i < files.length; ++i)
            files[i].filename = utility.fileNameFromPath(String(files[i].filePath))
        for (i = 0; i < files.length; ++i) {
            var group = [files[i]]
            for (var j = i + 1; j < files.length; ++j) {
                if (files[j].filename === files[i].filename)
                    group.push(files[j])
            }
            while (group.length >= 2) {
                var changed = false
                group.forEach(function (member) {
                    var longer = nameWithParent(member)
                    if (longer !== member.filename) {
                        member.filename = longer
                        changed = true
                    }
                })
                // Names that can grow no further (the same path twice, files at
                // the root) stay as they are.
                if (!changed)
                    break
                group = group.filter(function (member) {
                    return group.some(function (other) {
                        return other !== member && other.filename === member.filename
                    })
                })
            }
        }
        return files
    }
}
