pragma Singleton
import QtQuick 2.15
import QtQuick.Controls 2.15
import Qt.labs.settings 1.1

// Shared constants, colours, printer-model lookups and the user's profile settings.
Item {
    id: globals

    readonly property int scrollBarWidth: 12
    readonly property int gridSpacing: 25
    readonly property int fieldLabelHeight: 30
    readonly property int fieldLabelInlineTopMargin: 10
    readonly property int fieldInputHeight: 40
    readonly property int fieldInputRadius: 5
    readonly property int fieldInputBorderWidth: 1
    readonly property string fieldInputPlaceholderNumberRangeFormat: "%1 to %2"
    readonly property int actionButtonHeight: 50
    readonly property int fontSizeFieldInput: 15
    readonly property int fontSizeFieldLabel: 16
    // Why a number field did not take what was typed, inside the field.
    readonly property int fontSizeFieldNote: 12
    readonly property string filePrefix: "file:///"
    readonly property string materialFileExtension: ".zqmat"
    readonly property string materialFileDistributableExtension: ".zqmatd"
    readonly property string fontAssistantRegularName: "Assistant Regular"
    readonly property string homeSectionNameGettingStarted: qsTr("Getting Started")
    readonly property string homeSectionNameMaterials: qsTr("Materials")
    readonly property string homeSectionNameSettings: qsTr("Settings")
    readonly property string homeSectionNameSupport: qsTr("Support")
    readonly property string newMaterialDefaultFilenamePrefix: "NewMaterial"
    readonly property int validationErrorMessageDelegateHeight: 70
    readonly property int closeableTabHeight: 60
    // The smallest window size (applied after the first resize): wide enough for the
    // Home screen's layout (1100) and its sections' margins, so none of its controls is
    // pushed out of the window.
    readonly property int windowMinimumWidth: 1100 + 2 * gridSpacing
    readonly property int windowMinimumHeight: 600
    // Both follow the organisation domain the build was configured with.
    readonly property string zqContactEmail: "support@" + Qt.application.domain
    readonly property string applicationEULA: "https://" + Qt.application.domain + "/gelvantrium/eula.pdf"

    readonly property color colorWhite: "#ffffff"
    readonly property color colorTransparent: "#00000000"
    readonly property color colorNeutral1: "#efefef"
    readonly property color colorNeutral2: "#6c6767"
    readonly property color colorNeutral3: "#424241"
    readonly property color colorNeutral4: "#2b2b2b"
    readonly property color colorNeutral5: "#1d1e1e"
    readonly property color colorPrimary1: "#eb7a16"
    readonly property color colorPrimary2: "#cc6103"
    readonly property color colorSecondary1: "#79dfc5"
    readonly property color colorSecondary2: "#4ab7b2"
    readonly property color colorTextSelection: colorSecondary2
    readonly property color colorButtonActionBackground: colorNeutral2
    readonly property color colorButtonActionBackgroundHovered: colorNeutral3

    readonly property color colorFormFieldInputBackgroundUnfocused: colorNeutral5
    readonly property color colorFormFieldInputBackgroundFocused: colorNeutral3
    readonly property color colorFormFieldInputBorderUnfocused: colorNeutral2
    readonly property color colorFormFieldInputBorderFocused: colorWhite
    readonly property color colorFormFieldInputFont: colorWhite

    readonly property var ignoredValidationFields: [
        "Model Dose MJcm3",
        "Dp",
        "Material Scaling Factor X",
        "Material Scaling Factor Y",
        "Base Exposure Time Override"
    ]

    // The automatic update dialog has opened once in this run.
    property bool updateAutomaticallyPromptShown: false

    // Member order is the order of the New list.
    readonly property string defaultPrinterModels: JSON.stringify({
        "ORV_2.0_AA": "Orvo A",
        "ORV_2.0_BB": "Orvo B",
        "ORV_2.0_TT": "Tesk Print"
    })

    signal printerModelsUpdatedSignal()

    Settings {
        id: settingsUser
        category: "User"
        property string nameFirst: ""
        property string nameLast: ""
        property string email: ""
        property string company: ""
        property string groupKey: ""
        property string printerModels: ""
        property bool updateAutomaticallyPrompt: true
    }

    // Settings objects have loaded their stored values before this runs.
    Component.onCompleted: {
        if (settingsUser.groupKey === "")
            settingsUser.updateAutomaticallyPrompt = true
        if (settingsUser.printerModels === "")
            settingsUser.printerModels = defaultPrinterModels
    }

    // Parses stored JSON. Text that is not what the caller expects gives the fallback
    // with a warning, so a damaged settings file never breaks an open, save or list.
    function parseStoredJson(text, fallback, expectArray, what) {
        if (text === undefined || text === null || text === "")
            return fallback
        var parsed
        try {
            parsed = JSON.parse(text)
        } catch (e) {
            console.warn("Stored " + what + " is not valid JSON, using defaults: " + e.message)
            return fallback
        }
        var isArray = Array.isArray(parsed)
        var isObject = parsed !== null && typeof parsed === "object" && !isArray
        if (expectArray ? !isArray : !isObject) {
            console.warn("Stored " + what + " has the wrong JSON type, using defaults")
            return fallback
        }
        return parsed
    }

    function settingsUser_GetFirstName() { return settingsUser.nameFirst }
    function settingsUser_SetFirstName(text) { settingsUser.nameFirst = text }
    function settingsUser_GetLastName() { return settingsUser.nameLast }
    function settingsUser_SetLastName(text) { settingsUser.nameLast = text }
    function settingsUser_GetFullName() { return settingsUser.nameFirst + " " + settingsUser.nameLast }
    function settingsUser_GetEmail() { return settingsUser.email }
    function settingsUser_SetEmail(text) { settingsUser.email = text }
    function settingsUser_GetCompany() { return settingsUser.company }
    function settingsUser_SetCompany(text) { settingsUser.company = text }
    function settingsUser_GetGroupKey() { return settingsUser.groupKey }
    function settingsUser_SetGroupKey(text) { settingsUser.groupKey = text }
    function settingsUser_GetUpdateAutomaticallyPrompt() { return settingsUser.updateAutomaticallyPrompt }
    function settingsUser_SetUpdateAutomaticallyPrompt(value) { settingsUser.updateAutomaticallyPrompt = value }

    function settingsUser_GetPrinterModels() {
        return parseStoredJson(settingsUser.printerModels, JSON.parse(defaultPrinterModels), false,
                               "printer models")
    }

    function settingsUser_SetPrinterModels(jsonText) {
        settingsUser.printerModels = jsonText
        printerModelsUpdatedSignal()
    }

    // Machine model enumerator values 0..2 (as numbers, so "1" is 1), or a model
    // identifier from the printer-model list. A blank text is no number here: it
    // would otherwise read as 0.
    function getPrinterFriendlyName(printerName) {
        var number = typeof printerName === "number" ? printerName
                   : (typeof printerName === "string" && printerName.trim() !== "" ? Number(printerName) : NaN)
        if (number === 0) return "Orvo A"
        if (number === 1) return "Orvo B"
        if (number === 2) return "Tesk Print"
        var models = settingsUser_GetPrinterModels()
        var names = Object.keys(models)
        for (var i = 0; i < names.length; ++i) {
            if (names[i] === String(printerName))
                return models[names[i]]
        }
        return undefined
    }

    function getPrinterName(printerFriendlyName) {
        var models = settingsUser_GetPrinterModels()
        var names = Object.keys(models)
        for (var i = 0; i < names.length; ++i) {
            if (models[names[i]] === printerFriendlyName)
                return names[i]
        }
        return undefined
    }

    function fieldInputOnFocusChanged(focus, background) {
        background.color = focus ? colorFormFieldInputBackgroundFocused : colorFormFieldInputBackgroundUnfocused
        background.border.color = focus ? colorFormFieldInputBorderFocused : colorFormFieldInputBorderUnfocused
        background.radius = fieldInputRadius
        background.border.width = fieldInputBorderWidth
        return background
    }

    function fieldInputOnEnabledChanged(enabled, focus, background) {
        if (enabled)
            return fieldInputOnFocusChanged(focus, background)
        background.color = colorNeutral3
        background.border.color = colorNeutral3
        background.radius = fieldInputRadius
        background.border.width = fieldInputBorderWidth
        return background
    }

    function fieldWidth(parentWidth, widthMultiplier, numberOfFieldsInRow) {
        return (parentWidth - (numberOfFieldsInRow - 1) * gridSpacing) * widthMultiplier
    }

    function getSectionMinimumWidth(minimumWidth, widthMultiplier) {
        return widthMultiplier * minimumWidth
    }

    // A vertical scroll bar takes its width from the section while the content is taller than the view.
    function getSectionPreferredWidth(scrollView, screen, widthMultiplier) {
        var contentTaller = scrollView.contentHeight !== undefined
                ? scrollView.contentHeight > scrollView.height
                : (scrollView.contentItem ? scrollView.contentItem.height > scrollView.height : false)
        return (contentTaller ? screen.width - scrollBarWidth : screen.width) * widthMultiplier
    }

    // Colour channel between 0-255 and 0-1.
    function convertColor(color, toFloat) {
        return toFloat ? color / 255 : color * 255
    }

    function flickableScroll_ContentWidth(parentWidth, contentWidth, marginLeft, marginRight) {
        return Math.max(parentWidth, contentWidth + marginLeft + marginRight)
    }

    function flickableScroll_ContentHeight(contentHeight, marginTop, marginBottom) {
        return contentHeight + marginTop + marginBottom
    }

    function flickableScroll_ScrollBar_Horizontal_Policy(flickable) {
        return flickable.contentWidth > flickable.width ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
    }

    function flickableScroll_ScrollBar_Vertical_Policy(flickable) {
        return flickable.contentHeight > flickable.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
    }
}
