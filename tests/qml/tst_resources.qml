import QtQuick 2.15
import QtTest 1.2

// What the build fetches and the help pages load is in the resources.
TestCase {
    name: "Resources"

    function read(url) {
        var text = testSupport.readResource(url.replace("qrc:/", ":/"))
        return text === "" ? null : text
    }

    function test_fontFaces_data() {
        return ["ExtraLight", "Light", "Regular", "SemiBold", "Bold", "ExtraBold"].map(function(style) {
            return { tag: style, url: "qrc:/fonts/Assistant-" + style + ".woff" }
        })
    }

    function test_fontFaces(data) {
        var text = read(data.url)
        verify(text !== null && text.length > 1000, data.url)
        compare(text.substring(0, 4), "wOFF")
        verify(read("qrc:/fonts/fonts.css").indexOf(data.url.substring("qrc:/fonts/".length)) >= 0,
               "fonts.css names the face")
    }

    // The plain library, without the node loader around the package's copy, and no prettyPhoto.
    function test_fieldReferenceLoadsJQueryOnly() {
        var text = read("qrc:/html/formfieldreference/js/jquery-1.6.2.js")
        verify(text !== null)
        verify(text.indexOf("/*!\n * jQuery JavaScript Library v1.6.2\n") === 0)
        verify(text.indexOf("require('jsdom')") < 0)
        verify(text.indexOf("window.jQuery = window.$ = jQuery;") > 0)
        var page = read("qrc:/html/formfieldreference/formfieldreference.html")
        verify(page.indexOf("<script src=\"js/jquery-1.6.2.js\"></script>") > 0)
        verify(page.indexOf("prettyPhoto") < 0)
    }
}
