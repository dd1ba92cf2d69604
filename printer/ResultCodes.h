// Result codes: one 32-bit space shared by the printer link, the encoders,
// the configuration store, the network protocol and the PC tools. A code
// travels unchanged in TVNP replies. Public face of printer/; header-only
// constants (config/ uses them without linking the printer library).
#pragma once

#include <cstdint>

namespace tavik {

using ResultCode = uint32_t;

namespace rc {

inline constexpr ResultCode kSuccess = 0x00000000; // Success
inline constexpr ResultCode kFail = 0xFFFFFFFF; // Fail
inline constexpr ResultCode kErrFindDevice = 0x80000000; // Error on finding device
inline constexpr ResultCode kErrDeviceIndex = 0x80000001; // Invalid device index
inline constexpr ResultCode kErrBufferPointer = 0x80000002; // Invalid buffer pointer
inline constexpr ResultCode kErrNoDevice = 0x80000003; // Device is not exist
inline constexpr ResultCode kErrInvalidParameter = 0x80000004; // Invalid parameter
inline constexpr ResultCode kErrOpenDevice = 0x80000005; // Error on opening device
inline constexpr ResultCode kErrCommunication = 0x80000006; // Error on communication with device
inline constexpr ResultCode kErrFindDriver = 0x80000007; // Error on finding driver
inline constexpr ResultCode kErrInvalidHandle = 0x80000008; // Invalid handle
inline constexpr ResultCode kErrCardInside = 0x80000009; // There is a card inside printer
inline constexpr ResultCode kErrNoCardInside = 0x8000000A; // There is no card inside printer
inline constexpr ResultCode kErrHopperEmpty = 0x8000000B; // Hopper is empty
inline constexpr ResultCode kErrNoCard = 0x8000000C; // There is no card
inline constexpr ResultCode kErrTimeout = 0x8000000D; // Timeout on waiting
inline constexpr ResultCode kErrCaseOpen = 0x8000000E; // Case is opened
inline constexpr ResultCode kErrGetStatus = 0x8000000F; // Error on GetStatus
inline constexpr ResultCode kErrCardIn = 0x80000010; // Error on CardIn
inline constexpr ResultCode kErrCardOut = 0x80000011; // Error on CardOut
inline constexpr ResultCode kErrCardOutBack = 0x80000012; // Error on CardOutBack
inline constexpr ResultCode kErrMoveToPrint = 0x80000100; // Error on move to print position
inline constexpr ResultCode kErrMoveToMagnetic = 0x80000013; // Error on move to magnatic stripe encoding position
inline constexpr ResultCode kErrMoveToContact = 0x80000014; // Error on move to contact smart card encoding position
inline constexpr ResultCode kErrMoveToContactless = 0x80000015; // Error on move to contactless smart card encoding position
inline constexpr ResultCode kErrMoveToFlipper = 0x80000016; // Error on move to flipper
inline constexpr ResultCode kErrMoveToDevice = 0x80000017; // Error on move to device
inline constexpr ResultCode kErrMoveFromInSensor = 0x80000101; // Error on move from in sensor
inline constexpr ResultCode kErrMoveFromOutSensor = 0x80000102; // Error on move from out sensor
inline constexpr ResultCode kErrMagneticReadWrite = 0x80000018; // Error on magnetic read/write
inline constexpr ResultCode kErrNoPrintData = 0x80000019; // No print data
inline constexpr ResultCode kErrPrinting = 0x8000001A; // Error on printing
inline constexpr ResultCode kErrSeekRibbon = 0x8000001B; // Error on seeking ribbon
inline constexpr ResultCode kErrWindRibbon = 0x8000001C; // Error on winding ribbon
inline constexpr ResultCode kErrRibbonEmpty = 0x8000001D; // Ribbon empty
inline constexpr ResultCode kErrContactSmartCard = 0x8000001E; // Error on contact to smart card
inline constexpr ResultCode kErrDiscontactSmartCard = 0x8000001F; // Error on dis-contact from smart card
inline constexpr ResultCode kErrFlipperTop = 0x80000020; // Error on rotating to top of the flipper
inline constexpr ResultCode kErrFlipperDown = 0x80000021; // Error on rotating to down of the flipper
inline constexpr ResultCode kErrNoMagneticTrackData = 0x80000022; // No data on magnetic a track
inline constexpr ResultCode kErrNoMagneticData = 0x80000023; // No data on magnetic tracks
inline constexpr ResultCode kErrFileNotFound = 0x80000024; // File not found
inline constexpr ResultCode kErrFieldNotFound = 0x80000025; // Field not found
inline constexpr ResultCode kErrLoadImage = 0x80000026; // Error on loading image
inline constexpr ResultCode kErrCreateDc = 0x80000027; // Error on dreating DC
inline constexpr ResultCode kErrVerifyDriver = 0x80000028; // Error on verifying driver
inline constexpr ResultCode kErrSpooling = 0x80000029; // Error on spooling
inline constexpr ResultCode kErrDeviceNotOpened = 0x8000002A; // Device is not opened
inline constexpr ResultCode kErrDeviceUsedByOther = 0x8000002B; // Device is used by other
inline constexpr ResultCode kErrCreateSocket = 0x8000002C; // Error on creating a socket
inline constexpr ResultCode kErrConnectSocket = 0x8000002D; // Error on connecting to a socket
inline constexpr ResultCode kErrSslInit = 0x8000002E; // Error on SSL initialization
inline constexpr ResultCode kErrSslCreate = 0x8000002F; // Error on SSL creation
inline constexpr ResultCode kErrSslConnect = 0x80000030; // Error on SSL connection
inline constexpr ResultCode kErrReserved = 0x80000031; // Reserved
inline constexpr ResultCode kErrInvalidSocket = 0x80000032; // Invalid socket
inline constexpr ResultCode kErrSend = 0x80000033; // Error on sending data
inline constexpr ResultCode kErrReceive = 0x80000034; // Error on receiving data
inline constexpr ResultCode kErrSocket = 0x80000035; // Socket error
inline constexpr ResultCode kErrInvalidPacket = 0x80000036; // Invalid packet
inline constexpr ResultCode kErrPacketSequence = 0x80000037; // Error on packet sequence
inline constexpr ResultCode kErrFlagNoReply = 0x80000038; // Error on packet flag(no reply)
inline constexpr ResultCode kErrFlagHeader = 0x80000039; // Error on packet flag(header)
inline constexpr ResultCode kErrFlagArgument = 0x8000003A; // Error on packet flag(argument)
inline constexpr ResultCode kErrFlagExecution = 0x8000003B; // Error on packet flag(execution)
inline constexpr ResultCode kErrFlagBadCommand = 0x8000003C; // Error on packet flag(bad command)
inline constexpr ResultCode kErrFlagInitialization = 0x8000003D; // Error on packet flag(initialization)
inline constexpr ResultCode kErrFlagHandle = 0x8000003E; // Error on packet flag(handle)
inline constexpr ResultCode kErrOpenFile = 0x8000003F; // Error on opening a file
inline constexpr ResultCode kErrReadFile = 0x80000040; // Error on reading a file
inline constexpr ResultCode kErrNotSupported = 0x80000041; // Not supported yet
inline constexpr ResultCode kErrInsufficientBuffer = 0x80000042; // Insufficient buffer
inline constexpr ResultCode kErrPcscContext = 0x80000043; // Error on establishing pc/sc context
inline constexpr ResultCode kErrPcscListReaders = 0x80000044; // Error on getting list of readers
inline constexpr ResultCode kErrPcscConnect = 0x80000045; // Error on connecting to smart card
inline constexpr ResultCode kErrPcscStatus = 0x80000046; // Error on getting status of reader
inline constexpr ResultCode kErrPcscDisconnect = 0x80000047; // Error on disconnecting from smart card
inline constexpr ResultCode kErrPcscRelease = 0x80000048; // Error on releasing pc/sc context
inline constexpr ResultCode kErrContactless0049 = 0x80000049; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless004A = 0x8000004A; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless004B = 0x8000004B; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless0051 = 0x80000051; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless0052 = 0x80000052; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless0053 = 0x80000053; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless0054 = 0x80000054; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless0055 = 0x80000055; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless0056 = 0x80000056; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless0057 = 0x80000057; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless0150 = 0x80000150; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless0151 = 0x80000151; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless015F = 0x8000015F; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless01D0 = 0x800001D0; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless01D1 = 0x800001D1; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless01D2 = 0x800001D2; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless01D3 = 0x800001D3; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactless01D4 = 0x800001D4; // Error on communication with contactless smart card
inline constexpr ResultCode kErrContactlessTimeout = 0x800001D5; // Timeout on communication with contactless smart card
inline constexpr ResultCode kErrAuthentication = 0x80000300; // Error on authentication to network module
inline constexpr ResultCode kErrReboot = 0x80000301; // Error on rebooting network module
inline constexpr ResultCode kErrReload = 0x80000302; // Error on reloading network module
inline constexpr ResultCode kErrReset = 0x80000303; // Error on resetting network module
inline constexpr ResultCode kErrUpgrade = 0x80000304; // Error on upgrading network module
inline constexpr ResultCode kErrGetSystemConfig = 0x80000305; // Error on getting network system configuration
inline constexpr ResultCode kErrSetSystemConfig = 0x80000306; // Error on setting network system configuration
inline constexpr ResultCode kErrGetServiceConfig = 0x80000307; // Error on getting network service configuration
inline constexpr ResultCode kErrSetServiceConfig = 0x80000308; // Error on setting network service configuration
inline constexpr ResultCode kErrListUser = 0x80000309; // Error on listing network user
inline constexpr ResultCode kErrAddUser = 0x8000030A; // Error on adding a network user
inline constexpr ResultCode kErrDeleteUser = 0x8000030B; // Error on deleting a network user
inline constexpr ResultCode kErrPasswordUser = 0x8000030C; // Error on changing password of a network user
inline constexpr ResultCode kErrUsbStatus = 0x8000030D; // Error on getting USB status
inline constexpr ResultCode kErrVersion = 0x8000030E; // Error on getting version number of network module
inline constexpr ResultCode kErrGetOcpConfig = 0x8000030F; // Error on getting OCP configuration
inline constexpr ResultCode kErrSetOcpConfig = 0x80000310; // Error on setting OCP configuration
inline constexpr ResultCode kErrInvalidName = 0x80000200; // Invalid name
inline constexpr ResultCode kErrOcpCommandNotFound = 0x80000340; // Command not found
inline constexpr ResultCode kErrOcpArgumentCount = 0x80000341; // Invalid number of arguments
inline constexpr ResultCode kErrOcpArgument = 0x80000342; // Invalid argument
inline constexpr ResultCode kErrOcpDeviceOpened = 0x80000343; // Device is already opened
inline constexpr ResultCode kErrOcpDeviceNotOpened = 0x80000344; // Device is not opened
inline constexpr ResultCode kErrOcpPageNotInitialized = 0x80000345; // Page is not initialized
inline constexpr ResultCode kErrOcpMakePrn = 0x80000346; // Error on making PRN image
inline constexpr ResultCode kErrOcpDraw = 0x80000347; // Error on drawing an object
inline constexpr ResultCode kErrOcpMemory = 0x80000348; // Not enough memory space
inline constexpr ResultCode kErrOcpDisk = 0x80000349; // Not enough disk space
inline constexpr ResultCode kErrOcpFormatFile = 0x80000350; // Invalid format file
inline constexpr ResultCode kErrOcpVerifyMagnetic = 0x80000351; // Error on verifying magnetic data
inline constexpr ResultCode kErrOcpCleaning = 0x80000352; // Printer in not ready to clean

}  // namespace rc

// The text of a code; codes outside the table fall back to the PC/SC
// library's description of the value (never an empty text).
const char* resultText(ResultCode code);

}  // namespace tavik
