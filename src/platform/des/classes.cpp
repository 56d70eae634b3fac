// The editing-services objects our COM can create by class identifier.
#include "platform/com/class_table.h"
#include "platform/des/factories.h"

namespace platform::des {

void RegisterEditingServicesClasses() {
    com::InstallBuiltInClass(CLSID_AMTimeline, CreateTimeline);
    com::InstallBuiltInClass(CLSID_RenderEngine, CreateRenderEngine);
    com::InstallBuiltInClass(CLSID_CaptureGraphBuilder2, CreateCaptureGraphBuilder);
    com::InstallBuiltInClass(CLSID_Xml2Dex, CreateXmlConverter);
}

}  // namespace platform::des
