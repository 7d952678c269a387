.pragma library

// The material form's field table. Every section, the fill step, the write-back
// and the tests read this one list; a new field is one new row. Its texts are
// marked for the translation tools in this file's context ("FormFields").
//
// kind:     "text"    free text, written as is
//           "version" decimal-checked text, written as is
//           "D"       decimal, range enforced while typing, written with a decimal parse
//           "I"       integer-validated, written with an integer parse
//           "Istar"   integer-validated, written with a decimal parse
//           "thickness", "yesno"  comboboxes
//           "color"   the colour swatch
//           "placeholder"  an invisible, disabled cell that keeps the row's widths
// target:   which model object the field edits: document, qualityLevel or cycleSetting
// flagWord/flagType/flag: the present bit that decides whether the field is filled
// min/max:  the bounds as the placeholder shows them ("" = none)
// valueWhenAbsent: written and shown when the edited object lacks the value
// valueWhenUnset:  for a field always written, the value it gets when no level of the
//                  document sets it (the default its tooltip states)
// format/precision: how the file writes a decimal field (QString::number); 'g', 6 when absent

var sections = [
    { name: "Material", key: "material", rows: 1, share: 0 },
    { name: "Quality",  key: "quality",  rows: 4, share: 0.25 },
    { name: "Cycle",    key: "cycle",    rows: 3, share: 0.2 }
]

var thicknessValues = (function () {
    var values = []
    for (var t = 20; t <= 170; t += 10)
        values.push(String(t))
    return values
})()

var yesNoValues = ["Yes", "No"]

var fields = [
    // Material
    { section: "material", row: 1, share: 0.25, label: QT_TR_NOOP("Name"), target: "document", property: "friendlyName",
      kind: "text", flagWord: "xmlFlags", flagType: "PelluxMaterialDocument", flag: "PelluxMaterialDocumentFriendlyName" },
    { section: "material", row: 1, share: 0.515, label: QT_TR_NOOP("Description"), target: "document", property: "description",
      kind: "text", flagWord: "xmlFlags", flagType: "PelluxMaterialDocument", flag: "PelluxMaterialDocumentDescription" },
    { section: "material", row: 1, share: 0.1175, label: QT_TR_NOOP("Version"), target: "document", property: "version",
      kind: "version", min: "0.1", max: "1000000000000", placeholder: QT_TR_NOOP("0.1 or greater"), alwaysFilled: true,
      flagWord: "xmlFlags", flagType: "PelluxMaterialDocument", flag: "PelluxMaterialDocumentVersion" },
    { section: "material", row: 1, share: 0.1175, label: QT_TR_NOOP("Color"), target: "document", kind: "color" },

    // Quality, row 1
    { section: "quality", row: 1, label: QT_TR_NOOP("Thickness (µm)"), target: "qualityLevel", property: "thickness_um",
      kind: "thickness" },
    { section: "quality", row: 1, label: QT_TR_NOOP("Time Multiplier"), target: "qualityLevel", property: "timeMultiplier",
      kind: "D", min: "0.1", max: "5.0", tooltip: QT_TR_NOOP("Default: 1.0"), flag: "BaseMaterialObjectTimeMultiplier" },
    { section: "quality", row: 1, label: QT_TR_NOOP("Z Bleed Depth (mm)"), target: "qualityLevel", property: "zBleedDepth_mm",
      kind: "D", min: "0.0", max: "3.0", tooltip: QT_TR_NOOP("Default: 0.0"), flag: "BaseMaterialObjectZBleedDepth_mm" },
    { section: "quality", row: 1, label: QT_TR_NOOP("Exposure (mJ)"), target: "qualityLevel", property: "exposure",
      kind: "D", min: "0.1", max: "100.0", tooltip: QT_TR_NOOP("Default: 0.1"), flag: "BaseMaterialObjectExposure",
      valueWhenAbsent: "0.1" },
    // Quality, row 2
    { section: "quality", row: 2, label: QT_TR_NOOP("Over Exposure Factor"), target: "qualityLevel", property: "overExposureFactor",
      kind: "D", min: "0.0", max: "5.0", tooltip: QT_TR_NOOP("Default: 1.0"), flag: "BaseMaterialObjectOverExposureFactor",
      format: "g", precision: 12 },
    { section: "quality", row: 2, label: QT_TR_NOOP("Foundation Exposure (mJ)"), target: "qualityLevel", property: "foundationExposure",
      kind: "D", min: "0.1", max: "300.0", tooltip: QT_TR_NOOP("Default: 6 x Exposure"), flag: "BaseMaterialObjectFoundationExposure" },
    { section: "quality", row: 2, label: QT_TR_NOOP("XY Bleed (mm)"), target: "qualityLevel", property: "xYBleed_mm",
      kind: "D", min: "0.0", max: "3.0", tooltip: QT_TR_NOOP("Default: 0.0"), flag: "BaseMaterialObjectXYBleed_mm" },
    { section: "quality", row: 2, label: QT_TR_NOOP("Overhang Factor"), target: "qualityLevel", property: "overHangFactor",
      kind: "D", min: "0.0", max: "500.0", tooltip: QT_TR_NOOP("Default: 80"), flag: "BaseMaterialObjectOverHangFactor",
      advanced: true, alwaysPresent: true, format: "g", precision: 12 },
    // Quality, row 3
    { section: "quality", row: 3, label: QT_TR_NOOP("XY Trim (mm)"), target: "qualityLevel", property: "xYTrim_mm",
      kind: "D", min: "-1.0", max: "1.0", tooltip: QT_TR_NOOP("Default: 0.0"), flag: "BaseMaterialObjectXYTrim_mm",
      advanced: true, alwaysPresent: true },
    { section: "quality", row: 3, label: QT_TR_NOOP("Testing Trim"), target: "qualityLevel", property: "testingTrim",
      kind: "yesno", flag: "BaseMaterialObjectTestingTrim", advanced: true, alwaysPresent: true },
    { section: "quality", row: 3, label: QT_TR_NOOP("XY Shrinkage Factor"), target: "qualityLevel", property: "xYShrinkageFactor",
      kind: "D", min: "1.0", max: "1.2", tooltip: QT_TR_NOOP("Default: 1.0"), flag: "BaseMaterialObjectXYShrinkageFactor",
      advanced: true, alwaysPresent: true, format: "g", precision: 14 },
    { section: "quality", row: 3, label: QT_TR_NOOP("Z Shrinkage Factor"), target: "qualityLevel", property: "zShrinkageFactor",
      kind: "D", min: "1.0", max: "1.2", tooltip: QT_TR_NOOP("Default: 1.0"), flag: "BaseMaterialObjectZShrinkageFactor",
      advanced: true, alwaysPresent: true, format: "g", precision: 14 },
    // Quality, row 4
    { section: "quality", row: 4, label: QT_TR_NOOP("Scaling Factor X"), target: "qualityLevel", property: "materialScalingFactorX",
      kind: "D", min: "0.8", max: "1.2", tooltip: QT_TR_NOOP("Default: 1.0"), flag: "BaseMaterialObjectMaterialScalingFactorX",
      advanced: true, alwaysPresent: true, valueWhenUnset: "1.0", format: "f", precision: 12 },
    { section: "quality", row: 4, label: QT_TR_NOOP("Scaling Factor Y"), target: "qualityLevel", property: "materialScalingFactorY",
      kind: "D", min: "0.8", max: "1.2", tooltip: QT_TR_NOOP("Default: 1.0"), flag: "BaseMaterialObjectMaterialScalingFactorY",
      advanced: true, alwaysPresent: true, valueWhenUnset: "1.0", format: "f", precision: 12 },
    { section: "quality", row: 4, kind: "placeholder" },
    { section: "quality", row: 4, kind: "placeholder" },

    // Cycle, row 1
    { section: "cycle", row: 1, label: QT_TR_NOOP("Initial Settle Time (ms)"), target: "cycleSetting", property: "initial_Settle",
      kind: "I", min: "0", max: "60000", tooltip: QT_TR_NOOP("Default: 14,000"), flag: "CycleSettingInitial_Settle" },
    { section: "cycle", row: 1, label: QT_TR_NOOP("Release Min (ms)"), target: "cycleSetting", property: "releaseMin_ms",
      kind: "Istar", min: "0", max: "60000", tooltip: QT_TR_NOOP("Default: 200"), flag: "CycleSettingReleaseMin_ms" },
    { section: "cycle", row: 1, label: QT_TR_NOOP("Release Max (ms)"), target: "cycleSetting", property: "release_ms",
      kind: "Istar", min: "0", max: "60000", tooltip: QT_TR_NOOP("Default: 1,000"), flag: "CycleSettingRelease_ms" },
    { section: "cycle", row: 1, label: QT_TR_NOOP("Release Raise Min (mm)"), target: "cycleSetting", property: "releaseRaise_Min_mm",
      kind: "D", min: "0.0", max: "10.0", tooltip: QT_TR_NOOP("Default: 0.8"), flag: "CycleSettingReleaseRaise_Min_mm" },
    { section: "cycle", row: 1, label: QT_TR_NOOP("Release Raise Max (mm)"), target: "cycleSetting", property: "releaseRaise_Max_mm",
      kind: "D", min: "0.0", max: "10.0", tooltip: QT_TR_NOOP("Default: 1.2"), flag: "CycleSettingReleaseRaise_Max_mm" },
    // Cycle, row 2
    { section: "cycle", row: 2, label: QT_TR_NOOP("Settle Min (ms)"), target: "cycleSetting", property: "settleMin_ms",
      kind: "I", min: "0", max: "60000", tooltip: QT_TR_NOOP("Default: 300"), flag: "CycleSettingSettleMin_ms" },
    { section: "cycle", row: 2, label: QT_TR_NOOP("Settle Max (ms)"), target: "cycleSetting", property: "settle_ms",
      kind: "I", min: "0", max: "60000", tooltip: QT_TR_NOOP("Default: 7,000"), flag: "CycleSettingSettle_ms" },
    { section: "cycle", row: 2, label: QT_TR_NOOP("Raise Accel Limit"), target: "qualityLevel", property: "raiseAccelLimit",
      kind: "D", min: "0.0", max: "1.0", tooltip: QT_TR_NOOP("Default: 1.0"), flag: "BaseMaterialObjectRaiseAccelLimit",
      advanced: true },
    { section: "cycle", row: 2, label: QT_TR_NOOP("Lower Decel Limit"), target: "qualityLevel", property: "lowerDecelLimit",
      kind: "D", min: "0.0", max: "1.0", tooltip: QT_TR_NOOP("Default: 1.0"), flag: "BaseMaterialObjectLowerDecelLimit",
      advanced: true },
    { section: "cycle", row: 2, label: QT_TR_NOOP("Initial Raise Height (mm)"), target: "cycleSetting", property: "initial_Raise",
      kind: "D", min: "0.0", max: "10.0", tooltip: QT_TR_NOOP("Default: 1.2"), flag: "CycleSettingInitial_Raise", advanced: true },
    // Cycle, row 3
    { section: "cycle", row: 3, label: QT_TR_NOOP("Initial Release Time (ms)"), target: "cycleSetting", property: "initial_Release",
      kind: "Istar", min: "0", max: "60000", tooltip: QT_TR_NOOP("Default: 4,000"), flag: "CycleSettingInitial_Release",
      advanced: true },
    { section: "cycle", row: 3, label: QT_TR_NOOP("Kick (ms)"), target: "cycleSetting", property: "kick_ms",
      kind: "I", min: "0", max: "60000", tooltip: QT_TR_NOOP("Default: 0"), flag: "CycleSettingKick_ms", advanced: true },
    { section: "cycle", row: 3, label: QT_TR_NOOP("Cool (ms)"), target: "cycleSetting", property: "cool_ms",
      kind: "I", min: "0", max: "60000", tooltip: QT_TR_NOOP("Default: 0"), flag: "CycleSettingCool_ms", advanced: true },
    { section: "cycle", row: 3, label: QT_TR_NOOP("Cool Raise Min (mm)"), target: "cycleSetting", property: "coolRaise_Min_mm",
      kind: "D", min: "0.0", max: "10.0", tooltip: QT_TR_NOOP("Default: 0.0"), flag: "CycleSettingCoolRaise_Min_mm", advanced: true },
    { section: "cycle", row: 3, label: QT_TR_NOOP("Cool Raise Max (mm)"), target: "cycleSetting", property: "coolRaise_Max_mm",
      kind: "D", min: "0.0", max: "10.0", tooltip: QT_TR_NOOP("Default: 0.0"), flag: "CycleSettingCoolRaise_Max_mm", advanced: true }
]

// Where a field's present bit lives, when the row does not say.
function presentBit(field) {
    if (field.flagWord !== undefined)
        return { word: field.flagWord, type: field.flagType, flag: field.flag }
    if (field.flag === undefined)
        return null
    if (field.target === "cycleSetting")
        return { word: "xmlFlags", type: "CycleSetting", flag: field.flag }
    return { word: "sharedXmlFlags", type: "BaseMaterialObject", flag: field.flag }
}

// Fields the form writes even when the document lacks them.
function alwaysWritten(field) {
    return field.alwaysPresent === true || field.valueWhenAbsent !== undefined
}

function isNumeric(field) {
    return field.kind === "D" || field.kind === "I" || field.kind === "Istar" || field.kind === "version"
}

function isInteger(field) {
    return field.kind === "I" || field.kind === "Istar"
}

function rowFields(sectionKey, row) {
    return fields.filter(function (f) { return f.section === sectionKey && f.row === row })
}

function sectionFields(sectionKey) {
    return fields.filter(function (f) { return f.section === sectionKey })
}

function section(sectionKey) {
    for (var i = 0; i < sections.length; ++i) {
        if (sections[i].key === sectionKey)
            return sections[i]
    }
    return null
}

// Decimal parse that does not depend on the user's locale: decimal fields turn a
// typed comma into '.', so the decimal separator is always '.'.
function parseDecimal(text) {
    if (text === "" || !/^[+-]?(\d+\.?\d*|\.\d+)$/.test(text))
        return NaN
    return parseFloat(text)
}

// The value the int setters take as "no value".
var intNoValue = -2147483648

function parseInteger(text) {
    if (!/^[+-]?\d+$/.test(text))
        return intNoValue
    var value = parseInt(text, 10)
    if (value < -2147483647 || value > 2147483647)
        return intNoValue
    return value
}

// How the file writes the field's number.
function fileFormat(field) {
    return { format: field.format !== undefined ? field.format : "g",
             precision: field.precision !== undefined ? field.precision : 6 }
}

function placeholderFor(field, format) {
    if (field.placeholder !== undefined)
        return qsTranslate("FormFields", field.placeholder)
    if (field.min === undefined || field.max === undefined)
        return ""
    return format.arg(field.min).arg(field.max)
}

// The text a model value is shown with.
function valueText(field, value) {
    if (value === undefined || value === null)
        return ""
    if (typeof value === "number" && isNaN(value))
        return ""
    return String(value)
}
