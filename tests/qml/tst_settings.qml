import QtQuick 2.15
import QtTest 1.2
import "qrc:/"
import "qrc:/components/home"

// The printer-free part of the Settings section: the profile, the group key, the
// update-prompt preference and the distribution password, typed as a user would,
// kept in the settings store and shown again by a newly built section.
TestCase {
    id: testCase
    name: "HomeSectionSettings"
    width: 1200
    height: 800
    visible: true // hidden items get no pointer events
    when: windowShown

    Component { id: settingsComponent; HomeSectionSettings { width: 1000; height: 750; minimumWidth: 800 } }

    function makeSection() {
        return createTemporaryObject(settingsComponent, testCase)
    }

    // The section as built anew, e.g. when Home shows again.
    function rebuilt(section) {
        section.destroy()
        wait(0)
        return makeSection()
    }

    function typeInto(field, text) {
        mouseClick(field)
        keyClick(Qt.Key_A, Qt.ControlModifier)
        keyClick(Qt.Key_Delete)
        for (var i = 0; i < text.length; ++i)
            keyClick(text.charAt(i))
    }

    function init() {
        Globals.settingsUser_SetFirstName("")
        Globals.settingsUser_SetLastName("")
        Globals.settingsUser_SetEmail("")
        Globals.settingsUser_SetCompany("")
        Globals.settingsUser_SetGroupKey("")
        Globals.settingsUser_SetUpdateAutomaticallyPrompt(true)
        DistributionMediator.distributionPassword = ""
    }

    function test_profileFieldPersists_data() {
        return [
            { tag: "first name", field: "profileSettingsFirstNameField", key: "User/nameFirst",
              getter: "settingsUser_GetFirstName", text: "Ada" },
            { tag: "last name", field: "profileSettingsLastNameField", key: "User/nameLast",
              getter: "settingsUser_GetLastName", text: "Lovelace-King" },
            { tag: "email", field: "profileSettingsEmailField", key: "User/email",
              getter: "settingsUser_GetEmail", text: "ada@example.invalid" },
            { tag: "company", field: "profileSettingsCompanyField", key: "User/company",
              getter: "settingsUser_GetCompany", text: "Veltrisan & Co" },
            { tag: "group key of 32 characters", field: "profileSettingsGroupKeyField", key: "User/groupKey",
              getter: "settingsUser_GetGroupKey", text: "0123456789abcdefABCDEF0123456789" }
        ]
    }

    function test_profileFieldPersists(data) {
        var section = makeSection()
        typeInto(section[data.field], data.text)
        compare(Globals[data.getter](), data.text)
        // The store on disk has it once the settings are written out.
        tryVerify(function() { return testSupport.storedSetting(data.key) === data.text }, 3000)
        compare(rebuilt(section)[data.field].text, data.text)
    }

    function test_fieldsRereadStoredValues() {
        var section = makeSection()
        Globals.settingsUser_SetFirstName("Grace")
        Globals.settingsUser_SetUpdateAutomaticallyPrompt(false)
        section.getUserSettingsValues()
        compare(section.profileSettingsFirstNameField.text, "Grace")
        verify(!section.automaticUpdatePromptEnabled.isChecked)
    }

    function test_updatePromptPreferencePersists() {
        var section = makeSection()
        verify(section.automaticUpdatePromptEnabled.isChecked)
        mouseClick(section.automaticUpdatePromptEnabled)
        verify(!Globals.settingsUser_GetUpdateAutomaticallyPrompt())
        tryVerify(function() {
            var stored = testSupport.storedSetting("User/updateAutomaticallyPrompt")
            return stored === false || stored === "false"
        }, 3000)
        verify(!rebuilt(section).automaticUpdatePromptEnabled.isChecked)
    }

    function test_passwordValidityMark_data() {
        return [
            { tag: "valid", text: "Abcdef1!", valid: true },
            { tag: "no symbol", text: "Abcdefg1", valid: false }
        ]
    }

    function test_passwordValidityMark(data) {
        var section = makeSection()
        verify(section.distributionPasswordInvalidMark.visible)
        typeInto(section.distributionPasswordField, data.text)
        compare(DistributionMediator.distributionPassword, data.text)
        compare(section.distributionPasswordValidMark.visible, data.valid)
        compare(section.distributionPasswordInvalidMark.visible, !data.valid)
    }

    function test_passwordIsCutAtTwelveAndPersists() {
        var section = makeSection()
        typeInto(section.distributionPasswordField, "Abcdefgh12#zXY")
        compare(section.distributionPasswordField.text, "Abcdefgh12#z")
        compare(DistributionMediator.distributionPassword, "Abcdefgh12#z")
        verify(DistributionMediator.distributionPasswordValid)
        tryVerify(function() {
            return testSupport.storedSetting("distributionPassword/password") === "Abcdefgh12#z"
        }, 3000)

        var again = rebuilt(section)
        compare(again.distributionPasswordField.text, "Abcdefgh12#z")
        verify(again.distributionPasswordValidMark.visible)
    }
}
