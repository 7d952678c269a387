#pragma once

// The 28 material parameters shared by the document, its machines and their
// quality levels, in field, XML-writer and validation order. One row here
// gives a parameter its property, accessors, signal, member, reader, writer
// and range check.
//
// X(type, Name, qmlName, initial, minimum, maximum, element, otherElement, format, precision, label)
//   Name          getter; setter setName, signal NameChanged, bit BaseMaterialObjectName
//   element       the element as written; otherElement is also accepted when reading
//   format        QString::number format and precision of the written text
//   label         name used in range messages; switches have no range and no label
//
// Parameters 27 and 28 are listed apart because their members and signals
// come after validationErrorMessage.
#define GELV_SHARED_PARAMETERS_MAIN(X)                                                                       \
    X(double, TimeMultiplier, timeMultiplier, 1.0, 0.1, 5.0, "TimeMultiplier", nullptr, 'g', 6,              \
        "Time Multiplier")                                                                                   \
    X(double, Model_Dose_MJcm3, model_Dose_MJcm3, 0.1, 0.1, 20000.0, "Model_Dose_MJcm3", nullptr, 'g', 6,    \
        "Model Dose MJcm3")                                                                                  \
    X(double, Model_Dose_Const, model_Dose_Const, 0.0, 0.0, 1000.0, "Model_Dose_Const", nullptr, 'g', 6,     \
        "Model Dose Const")                                                                                  \
    X(double, Dp, dp, 0.1, 0.1, 10000.0, "Dp", nullptr, 'g', 6, "Dp")                                        \
    X(double, Iy_um, iy_um, 0.0, -10000.0, 0.0, "Iy_um", nullptr, 'g', 6, "Iy um")                           \
    X(double, Oc_um, oc_um, 0.0, 0.0, 10000.0, "Oc_um", nullptr, 'g', 6, "Oc um")                            \
    X(double, XYBleed_mm, xYBleed_mm, 0.0, 0.0, 3.0, "XYBleed_mm", nullptr, 'g', 6, "XY Bleed (mm)")         \
    X(double, ZBleedDepth_mm, zBleedDepth_mm, 0.1, 0.0, 3.0, "ZBleedDepth_mm", nullptr, 'g', 6,              \
        "Z Bleed Depth (mm)")                                                                                \
    X(double, XYTrim_mm, xYTrim_mm, 0.0, -1.0, 1.0, "XYTrim_mm", nullptr, 'g', 6, "XY Trim (mm)")            \
    X(double, ZShrinkageFactor, zShrinkageFactor, 1.0, 1.0, 1.2, "ZShinkageFactor", "ZShrinkageFactor", 'g', \
        14, "Z Shrinkage Factor")                                                                            \
    X(double, XYShrinkageFactor, xYShrinkageFactor, 1.0, 1.0, 1.2, "XYShinkageFactor", "XYShrinkageFactor",  \
        'g', 14, "XY Shrinkage Factor")                                                                      \
    X(double, OverHangFactor, overHangFactor, 80.0, 0.0, 500.0, "OverHangFactor", nullptr, 'g', 12,          \
        "Over Hang Factor")                                                                                  \
    X(double, OverExposureFactor, overExposureFactor, 0.0, 0.0, 5.0, "OverExposureFactor", nullptr, 'g', 12, \
        "Over Exposure Factor")                                                                              \
    X(bool, TestingOC, testingOC, false, 0, 0, "TestingOC", nullptr, 0, 0, nullptr)                          \
    X(bool, TestingRC, testingRC, false, 0, 0, "TestingRC", nullptr, 0, 0, nullptr)                          \
    X(bool, TestingTrim, testingTrim, false, 0, 0, "TestingTrim", nullptr, 0, 0, nullptr)                    \
    X(double, RaiseAccelLimit, raiseAccelLimit, 1.0, 0.0, 1.0, "RaiseAccelLimit", nullptr, 'g', 6,           \
        "Raise Accell Limit")                                                                                \
    X(double, LowerDecelLimit, lowerDecelLimit, 1.0, 0.0, 1.0, "LowerDecelLimit", nullptr, 'g', 6,           \
        "Lower Decel Limit")                                                                                 \
    X(bool, UsePrinterXYScaling, usePrinterXYScaling, false, 0, 0, "UsePrinterXYScaling", nullptr, 0, 0,     \
        nullptr)                                                                                             \
    X(double, RC_Factor, rC_Factor, 0.0, 0.0, 1.0, "RC_Factor", nullptr, 'g', 6, "RC Factor")                \
    X(double, Exposure, exposure, 0.1, 0.1, 100.0, "Exposure", nullptr, 'g', 6, "Exposure")                  \
    X(double, BaseExposureTimeOverride_ms, baseExposureTimeOverride_ms, 0.1, 0.1, 60000.0,                   \
        "BaseExposureTimeOverride_ms", nullptr, 'g', 6, "Base Exposure Time Override (ms)")                  \
    X(double, AttachDepth, attachDepth, 500.0, 0.0, 1000.0, "AttachDepth", nullptr, 'g', 6, "Attach Depth")  \
    X(double, FoundationExposure, foundationExposure, 0.1, 0.0, 1000.0, "FoundationExposure", nullptr, 'g',  \
        6, "Attach Dosage")                                                                                  \
    X(double, InhibitedLayer_mm, inhibitedLayer_mm, 0.0, 0.0, 0.5, "InhibitedLayer_mm", nullptr, 'g', 6,     \
        "Inhibited Layer (mm)")                                                                              \
    X(bool, UseOrigMethod, useOrigMethod, true, 0, 0, "UseOrigMethod", nullptr, 0, 0, nullptr)

#define GELV_SHARED_PARAMETERS_SCALING(X)                                                                    \
    X(double, MaterialScalingFactorX, materialScalingFactorX, 0.8, 0.8, 1.2, "MaterialScalingFactorX",       \
        nullptr, 'f', 12, "Material Scaling Factor X")                                                       \
    X(double, MaterialScalingFactorY, materialScalingFactorY, 0.8, 0.8, 1.2, "MaterialScalingFactorY",       \
        nullptr, 'f', 12, "Material Scaling Factor Y")

#define GELV_SHARED_PARAMETERS(X) GELV_SHARED_PARAMETERS_MAIN(X) GELV_SHARED_PARAMETERS_SCALING(X)
