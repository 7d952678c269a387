import QtQuick 2.15
import "../.."
import "../field"

// A profile text field bound to one "User" setting through the Globals accessors
// settingsUser_Get<settingName> and settingsUser_Set<settingName>.
FieldText {
    id: profileField

    property string settingName: ""

    function getUserSettingValue() {
        setText(Globals["settingsUser_Get" + settingName]())
    }

    function setUserSettingValue() {
        Globals["settingsUser_Set" + settingName](text)
    }

    Component.onCompleted: getUserSettingValue()
    onEditingFinished: setUserSettingValue()
    // Also kept on every edit, so that leaving Home right after typing loses nothing.
    onUserEdited: setUserSettingValue()
}
