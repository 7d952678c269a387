import QtQuick 2.15

// Stands in for UpdateHelper: it answers only when a test makes it, and counts the calls.
QtObject {
    property bool installerReady: false
    property bool launchResult: true
    property string releaseNotes: "Faster and safer."
    property int checks: 0
    property int downloads: 0
    property int launches: 0

    signal returnCheckForUpdateResponse(var updateExists)
    signal returnDownloadProgressUpdate(var received, var total, var sizeReceived, var sizeTotal, var timeRemaining)
    signal returnDownloadUpdateResponse(var downloadWasSuccessful)
    signal returnDownloadFileNotFound(string url)

    function checkForUpdate() { ++checks }
    function getUpdateVersionNumber() { return "1.2.0" }
    function getUpdateReleaseNotes() { return releaseNotes }
    function startDownload() { ++downloads }
    function isInstallerReady() { return installerReady }
    function launchInstaller() { ++launches; return launchResult }
}
