#include "registertypes.h"

#include "logger.h"
#include "updatehelper.h"
#include "utilities.h"

#include "PelluxNetworkLibrary.h"

#include "basematerialobject.h"
#include "cyclesetting.h"
#include "machine.h"
#include "pelluxmaterialdocument.h"
#include "qualitylevel.h"

#include <QtQml>

void registerQmlTypes()
{
    qmlRegisterType<PelluxNetworkLib>("Veltrisan.NetToolItems", 1, 0, "PelluxNetwork");

    const char* documentUri = "com.vtr.MaterialDocumentManagementLib";
    qmlRegisterType<BaseMaterialObject>(documentUri, 1, 0, "BaseMaterialObject");
    qmlRegisterType<PelluxMaterialDocument>(documentUri, 1, 0, "PelluxMaterialDocument");
    qmlRegisterType<Machine>(documentUri, 1, 0, "Machine");
    qmlRegisterType<QualityLevel>(documentUri, 1, 0, "QualityLevel");
    qmlRegisterType<CycleSetting>(documentUri, 1, 0, "CycleSetting");

    const char* appUri = "com.vtr.Gelvantrium";
    qmlRegisterType<Utilities>(appUri, 1, 0, "Utilities");
    qmlRegisterType<Logger>(appUri, 1, 0, "Logger");
    qmlRegisterType<UpdateHelper>(appUri, 1, 0, "UpdateHelper");
}
