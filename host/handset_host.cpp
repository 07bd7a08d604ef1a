#include "host/handset_host.h"

#include "host/modem.h"
#include "host/phone.h"
#include "host/platform/handset.h"
#include "host/shellsvc.h"

namespace {

constexpr HandsetOps kHost = {
    HostPBWrite,
    HostPBSearch,
    HostPBRemove,
    HostPBGetField,
    HostPBChange,
    HostPubMakeCall,
    HostVCSetup,
    HostVCAccept,
    HostVCRelease,
    HostVCSendDTMF,
    HostVCCallStatus,
    HostVCList,
    HostCLDialled,
    HostCLMissed,
    HostCLReceived,
    HostCLGetField,
    HostNTList,
    HostNTRemove,
    HostNTGetField,
    HostNTMarkRead,
    HostCalendarAddStub,
    HostGetDeviceId,
    HostSaveMovieFile,
    HostPlaySystemSound,
    HostStartConfirmThread,
    HostRcellAvailable,
    HostRcellNonRcellSession,
    HostIsRcellNam,
};

}  // namespace

void HostHandsetInstall() { HandsetInstall(&kHost); }
