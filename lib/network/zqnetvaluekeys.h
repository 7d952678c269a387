#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// The printer's value keys. The one list below makes both the enumeration and the
// name table, in index order; a key travels on the wire as its name.
#define ZQ_NET_VALUE_KEYS(X)                                                                                 \
    X(ZqNetValueKey_InvalidKey)                                                                              \
    X(ZqNetValueKey_PrinterState)                                                                            \
    X(ZqNetValueKey_PreviousPrinterState)                                                                    \
    X(ZqNetValueKey_FriendlyPrinterName)                                                                     \
    X(ZqNetValueKey_SimulationMode)                                                                          \
    X(ZqNetValueKey_TestingMode)                                                                             \
    X(ZqNetValueKey_FIRMWARE_Firmware)                                                                       \
    X(ZqNetValueKey_FIRMWARE_FirmwareVersionNumber)                                                          \
    X(ZqNetValueKey_FIRMWARE_ApplyFirmwareUpdate)                                                            \
    X(ZqNetValueKey_FIRMWARE_FirmwareUpdateFailed)                                                           \
    X(ZqNetValueKey_FIRMWARE_ApplyingFirmwareUpdate)                                                         \
    X(ZqNetValueKey_FIRMWARE_FirmwareUpdateAuxCoverup)                                                       \
    X(ZqNetValueKey_FIRMWARE_ApplyFactoryReset)                                                              \
    X(ZqNetValueKey_PrinterGUID)                                                                             \
    X(ZqNetValueKey_PrinterRedistributionCode)                                                               \
    X(ZqNetValueKey_PrinterModel)                                                                            \
    X(ZqNetValueKey_PrinterModelMarketingName)                                                               \
    X(ZqNetValueKey_SamplePrintName)                                                                         \
    X(ZqNetValueKey_SECURITY_AccessPassword)                                                                 \
    X(ZqNetValueKey_SECURITY_AccessPasswordEnabled)                                                          \
    X(ZqNetValueKey_FileTransfer_FileReceived)                                                               \
    X(ZqNetValueKey_FileTransfer_FileStartReceive)                                                           \
    X(ZqNetValueKey_FileTransfer_FileReceiving)                                                              \
    X(ZqNetValueKey_FileTransfer_FileStartSend)                                                              \
    X(ZqNetValueKey_FileTransfer_FileSent)                                                                   \
    X(ZqNetValueKey_FileTransfer_FileSending)                                                                \
    X(ZqNetValueKey_FileTransfer_CancelFileSend)                                                             \
    X(ZqNetValueKey_LOGGING_PrepareLogPackage)                                                               \
    X(ZqNetValueKey_LOGGING_LogPackagePath)                                                                  \
    X(ZqNetValueKey_LOGGING_LogPackagePrepared)                                                              \
    X(ZqNetValueKey_LOGGING_LogPackageFailed)                                                                \
    X(ZqNetValueKey_LOGGING_LogPackageCancel)                                                                \
    X(ZqNetValueKey_HARDWARE_RevisionCode)                                                                   \
    X(ZqNetValueKey_HARDWARE_ButtonState)                                                                    \
    X(ZqNetValueKey_HARDWARE_DoorState)                                                                      \
    X(ZqNetValueKey_HARDWARE_HomeSenseState)                                                                 \
    X(ZqNetValueKey_HARDWARE_Fan1Speed)                                                                      \
    X(ZqNetValueKey_HARDWARE_Fan2Speed)                                                                      \
    X(ZqNetValueKey_HARDWARE_Fan3Speed)                                                                      \
    X(ZqNetValueKey_HARDWARE_FaultString)                                                                    \
    X(ZqNetValueKey_HARDWARE_FactoryLightEngine_SN)                                                          \
    X(ZqNetValueKey_HARDWARE_FactoryCalDateTimeStamp)                                                        \
    X(ZqNetValueKey_HARDWARE_FactoryImageWidth)                                                              \
    X(ZqNetValueKey_HARDWARE_FactoryImageHeight)                                                             \
    X(ZqNetValueKey_HARDWARE_FactoryXYPixelSize)                                                             \
    X(ZqNetValueKey_HARDWARE_FactoryIntensity)                                                               \
    X(ZqNetValueKey_HARDWARE_FactoryIntensityTuningFactor)                                                   \
    X(ZqNetValueKey_HARDWARE_FactoryLSVTarget)                                                               \
    X(ZqNetValueKey_HARDWARE_FactoryCurrentTgt)                                                              \
    X(ZqNetValueKey_HARDWARE_FactoryXCalScaleFactor)                                                         \
    X(ZqNetValueKey_HARDWARE_FactoryYCalScaleFactor)                                                         \
    X(ZqNetValueKey_HARDWARE_FactoryDefault_XCalScaleFactor)                                                 \
    X(ZqNetValueKey_HARDWARE_FactoryDefault_YCalScaleFactor)                                                 \
    X(ZqNetValueKey_HARDWARE_FactoryZHomeOffset)                                                             \
    X(ZqNetValueKey_HARDWARE_FactoryZOffsetCorrection)                                                       \
    X(ZqNetValueKey_HARDWARE_FactoryDefault_ZOffsetCorrection)                                               \
    X(ZqNetValueKey_HARDWARE_FactoryZCalJigOffset)                                                           \
    X(ZqNetValueKey_HARDWARE_EnvironAmperage)                                                                \
    X(ZqNetValueKey_HARDWARE_EnvironCurZStepPos)                                                             \
    X(ZqNetValueKey_HARDWARE_EnvironMechCycleAvg)                                                            \
    X(ZqNetValueKey_HARDWARE_EnvironExposureAvg)                                                             \
    X(ZqNetValueKey_HARDWARE_EnvironLastIntensity)                                                           \
    X(ZqNetValueKey_HARDWARE_EnvironLastLSV)                                                                 \
    X(ZqNetValueKey_HARDWARE_EnvironLastAmpValue)                                                            \
    X(ZqNetValueKey_HARDWARE_EnvironLastTemp)                                                                \
    X(ZqNetValueKey_HARDWARE_Stat_Attempts)                                                                  \
    X(ZqNetValueKey_HARDWARE_Stat_Finished)                                                                  \
    X(ZqNetValueKey_HARDWARE_Stat_AbortedUser)                                                               \
    X(ZqNetValueKey_HARDWARE_Stat_AbortedOther)                                                              \
    X(ZqNetValueKey_HARDWARE_Stat_LedTime_ms)                                                                \
    X(ZqNetValueKey_HARDWARE_Stat_LedMaxTemp_C)                                                              \
    X(ZqNetValueKey_HARDWARE_Stat_LedHotCount)                                                               \
    X(ZqNetValueKey_HARDWARE_Stat_LedWeakCount)                                                              \
    X(ZqNetValueKey_HARDWARE_Stat_LedAvgAmp)                                                                 \
    X(ZqNetValueKey_HARDWARE_Stat_LedAvgTemp)                                                                \
    X(ZqNetValueKey_HARDWARE_Stat_ZMovement_mm)                                                              \
    X(ZqNetValueKey_HARDWARE_Stat_DoorCycles)                                                                \
    X(ZqNetValueKey_HARDWARE_Stat_MachineTime)                                                               \
    X(ZqNetValueKey_HARDWARE_Stat_PrintingTime)                                                              \
    X(ZqNetValueKey_HARDWARE_ResetStatistics)                                                                \
    X(ZqNetValueKey_HARDWARE_ResetPrintHistory)                                                              \
    X(ZqNetValueKey_HARDWARE_ForceUpdateHomeSenseState)                                                      \
    X(ZqNetValueKey_PRINT_LayersRemaining)                                                                   \
    X(ZqNetValueKey_PRINT_TotalLayers)                                                                       \
    X(ZqNetValueKey_PRINT_ETRSeconds)                                                                        \
    X(ZqNetValueKey_PRINT_StatusMessage)                                                                     \
    X(ZqNetValueKey_PRINT_PrintFinishedCode)                                                                 \
    X(ZqNetValueKey_PRINT_PrintSpeed)                                                                        \
    X(ZqNetValueKey_PRINT_AveragePrintSpeed)                                                                 \
    X(ZqNetValueKey_PRINT_CurrentPrintName)                                                                  \
    X(ZqNetValueKey_PRINT_CurrentMaterialName)                                                               \
    X(ZqNetValueKey_PRINT_Quality)                                                                           \
    X(ZqNetValueKey_PRINT_History)                                                                           \
    X(ZqNetValueKey_TOOL_ActivateLightEngine)                                                                \
    X(ZqNetValueKey_TOOL_TuneLSV)                                                                            \
    X(ZqNetValueKey_TOOL_ShowGrid)                                                                           \
    X(ZqNetValueKey_TOOL_ShowWhite)                                                                          \
    X(ZqNetValueKey_TOOL_DeliverDosage)                                                                      \
    X(ZqNetValueKey_TOOL_DeliverDosageMask)                                                                  \
    X(ZqNetValueKey_TOOL_Cleaning)                                                                           \
    X(ZqNetValueKey_TOOL_TableMoveDelta)                                                                     \
    X(ZqNetValueKey_TOOL_TableInMotion)                                                                      \
    X(ZqNetValueKey_TOOL_FindZHomeOffset)                                                                    \
    X(ZqNetValueKey_TOOL_FindZPositionZero)                                                                  \
    X(ZqNetValueKey_TOOL_TakeScreenShot)                                                                     \
    X(ZqNetValueKey_PLIB_DirectoryPath)                                                                      \
    X(ZqNetValueKey_PLIB_RegisterPackage)                                                                    \
    X(ZqNetValueKey_PLIB_PackageRegistered)                                                                  \
    X(ZqNetValueKey_PLIB_PackageRegisterFailed)                                                              \
    X(ZqNetValueKey_PLIB_RegisterFailMessage)                                                                \
    X(ZqNetValueKey_PLIB_PackageUnRegistered)                                                                \
    X(ZqNetValueKey_PLIB_UnRegisterPackage)                                                                  \
    X(ZqNetValueKey_PLIB_ReRegisterPackage)                                                                  \
    X(ZqNetValueKey_PLIB_RemovePackage)                                                                      \
    X(ZqNetValueKey_PLIB_RemoveMultiplePackages)                                                             \
    X(ZqNetValueKey_PLIB_RemoveMultiplePackagesFinished)                                                     \
    X(ZqNetValueKey_PLIB_RemoveUnregisteredKRX)                                                              \
    X(ZqNetValueKey_PLIB_PackageNameList)                                                                    \
    X(ZqNetValueKey_PLIB_PackageInfoList)                                                                    \
    X(ZqNetValueKey_PLIB_Busy)                                                                               \
    X(ZqNetValueKey_PLIB_ApproximatePrintSpace)                                                              \
    X(ZqNetValueKey_MLIB_DirectoryPath)                                                                      \
    X(ZqNetValueKey_MLIB_RegisterMaterial)                                                                   \
    X(ZqNetValueKey_MLIB_MaterialRegistered)                                                                 \
    X(ZqNetValueKey_MLIB_MaterialUnRegistered)                                                               \
    X(ZqNetValueKey_MLIB_UnRegisterMaterial)                                                                 \
    X(ZqNetValueKey_MLIB_ReRegisterMaterial)                                                                 \
    X(ZqNetValueKey_MLIB_RemoveMaterial)                                                                     \
    X(ZqNetValueKey_MLIB_MaterialNameList)                                                                   \
    X(ZqNetValueKey_MLIB_MaterialFullInfoList)                                                               \
    X(ZqNetValueKey_MLIB_CustomMaterialCount)                                                                \
    X(ZqNetValueKey_MLIB_CustomMaterialMax)                                                                  \
    X(ZqNetValueKey_NET_BroadcastUDP)                                                                        \
    X(ZqNetValueKey_NET_UpdateInterfaces)                                                                    \
    X(ZqNetValueKey_NET_InterfacesBusy)                                                                      \
    X(ZqNetValueKey_NET_InterfaceOnline)                                                                     \
    X(ZqNetValueKey_ETH0_Settings_AutoMode)                                                                  \
    X(ZqNetValueKey_ETH0_Settings_IP)                                                                        \
    X(ZqNetValueKey_ETH0_Settings_NetMask)                                                                   \
    X(ZqNetValueKey_ETH0_Settings_NetGateway)                                                                \
    X(ZqNetValueKey_ETH0_MAC_ADDRESS)                                                                        \
    X(ZqNetValueKey_ETH0_Enabled)                                                                            \
    X(ZqNetValueKey_ETH0_Effective_MAC_ADDRESS)                                                              \
    X(ZqNetValueKey_ETH0_Effective_AutoMode)                                                                 \
    X(ZqNetValueKey_ETH0_Effective_IP)                                                                       \
    X(ZqNetValueKey_ETH0_Effective_NetMask)                                                                  \
    X(ZqNetValueKey_ETH0_Effective_NetGateway)                                                               \
    X(ZqNetValueKey_WIFI_Settings_AutoMode)                                                                  \
    X(ZqNetValueKey_WIFI_Settings_IP)                                                                        \
    X(ZqNetValueKey_WIFI_Settings_NetMask)                                                                   \
    X(ZqNetValueKey_WIFI_Settings_NetGateway)                                                                \
    X(ZqNetValueKey_WIFI_Settings_ESSID)                                                                     \
    X(ZqNetValueKey_WIFI_Settings_WPAPassword)                                                               \
    X(ZqNetValueKey_WIFI_AuthState)                                                                          \
    X(ZqNetValueKey_WIFI_MAC_ADDRESS)                                                                        \
    X(ZqNetValueKey_WIFI_Enabled)                                                                            \
    X(ZqNetValueKey_WIFI_Effective_MAC_ADDRESS)                                                              \
    X(ZqNetValueKey_WIFI_Effective_AutoMode)                                                                 \
    X(ZqNetValueKey_WIFI_Effective_ESSID)                                                                    \
    X(ZqNetValueKey_WIFI_Effective_WPAPassword)                                                              \
    X(ZqNetValueKey_WIFI_Effective_IP)                                                                       \
    X(ZqNetValueKey_WIFI_Effective_NetMask)                                                                  \
    X(ZqNetValueKey_WIFI_Effective_NetGateway)                                                               \
    X(ZqNetValueKey_WIFI_UpdateNetworks)                                                                     \
    X(ZqNetValueKey_WIFI_Networks)                                                                           \
    X(ZqNetValueKey_WIFI_CurrentNetworkQuality)                                                              \
    X(ZqNetValueKey_TWQH_ApplyTWQHFile)                                                                      \
    X(ZqNetValueKey_TWQH_ApplyingFileBusy)                                                                   \
    X(ZqNetValueKey_TWQH_ZHomeOffsetModifier)                                                                \
    X(ZqNetValueKey_TWQH_RoughnessCorrectionValueModifier)                                                   \
    X(ZqNetValueKey_TWQH_LSVTargetModifier)                                                                  \
    X(ZqNetValueKey_CustomMaterialXMLString)                                                                 \
    X(ZqNetValueKey_Reserved172)                                                                             \
    X(ZqNetValueKey_Reserved173)                                                                             \
    X(ZqNetValueKey_EndingInvalidKey)

namespace ZqNetValueKeys {

constexpr quint32 FirstKeyValue = 0x80D4D5BC;

namespace index {
#define ZQ_NET_VALUE_KEY_INDEX(name) name,
    enum KeyIndex { ZQ_NET_VALUE_KEYS(ZQ_NET_VALUE_KEY_INDEX) };
#undef ZQ_NET_VALUE_KEY_INDEX
}

enum ZqNetValuesKey : quint32 {
#define ZQ_NET_VALUE_KEY_ENUMERATOR(name) name = FirstKeyValue + index::name,
    ZQ_NET_VALUE_KEYS(ZQ_NET_VALUE_KEY_ENUMERATOR)
#undef ZQ_NET_VALUE_KEY_ENUMERATOR
};

constexpr int KeyCount = int(ZqNetValueKey_EndingInvalidKey - ZqNetValueKey_InvalidKey) + 1;
static_assert(ZqNetValueKey_InvalidKey == FirstKeyValue, "the first key starts the range");
static_assert(KeyCount == 175, "the key table has 175 rows");

// Entry i is the name of key FirstKeyValue + i, filled before main() runs.
extern const QString valueKeyStrings[KeyCount];

// Exact, case-sensitive; an unknown name gives ZqNetValueKey_InvalidKey.
ZqNetValuesKey KeyFromKeyString(const QString& name);
// The name of a valid key; "ZqNetValueKey_InvalidKey" for anything else.
QString KeyStringFromKey(ZqNetValuesKey key);
// True for the keys between the two sentinels.
bool KeyIsValid(ZqNetValuesKey key);
QStringList KeyStrings();
bool valueKeysSanityCheck();

} // namespace ZqNetValueKeys

Q_DECLARE_METATYPE(ZqNetValueKeys::ZqNetValuesKey)
