#pragma once

// Error numbers raised by the connections. They are part of what an operator
// may quote to support, so a number never changes meaning once released.
namespace krv::comm::errors {

// Using a connection.
inline constexpr int NotOpen = 1000;                  // SendData before OpenPort
inline constexpr int IncompleteSettings = 1001;       // no host, no path, port 0
inline constexpr int LocalLimit = 1002;               // this computer ran out of open files
inline constexpr int ConnectionLibraryMissing = 1003; // a connection's module cannot be loaded

// TCP/IP.
inline constexpr int TcpHostNotFound = 1010;
inline constexpr int TcpConnectionRefused = 1011;
inline constexpr int TcpConnectTimeout = 1012;
inline constexpr int TcpConnectFailed = 1013;
inline constexpr int TcpWriteFailed = 1014;  // reset, broken connection
inline constexpr int TcpWriteTimeout = 1015; // the printer stopped taking data
inline constexpr int TcpCloseFailed = 1016;  // the printer did not confirm the data

// File or device.
inline constexpr int FileOpenFailed = 1020;
inline constexpr int FileWriteFailed = 1021;
inline constexpr int FileCloseFailed = 1022; // flushing or putting the file in place
inline constexpr int FileIsFolder = 1023;
inline constexpr int FileWriteTimeout = 1024;    // a device that stopped taking data
inline constexpr int FileNotFileOrDevice = 1025; // a FIFO, socket or the like

// Print spooler.
inline constexpr int SpoolerUnavailable = 1030;
inline constexpr int SpoolerQueueMissing = 1031;
inline constexpr int SpoolerNoDefaultQueue = 1032;
inline constexpr int SpoolerJobFailed = 1033; // the job could not be created or started
inline constexpr int SpoolerWriteFailed = 1034;
inline constexpr int SpoolerFinishFailed = 1035; // the spooler refused the finished job
inline constexpr int SpoolerNoAnswer = 1036;     // connected, but no answer within the bound

// Serial line.
inline constexpr int SerialMissing = 1050;
inline constexpr int SerialBusy = 1051; // held by another program
inline constexpr int SerialNotPermitted = 1052;
inline constexpr int SerialNotTerminal = 1053;
inline constexpr int SerialSettingRefused = 1054; // speed, frame or flow control
inline constexpr int SerialOpenFailed = 1055;
inline constexpr int SerialWriteFailed = 1056;
inline constexpr int SerialWriteTimeout = 1057; // flow control held the job back
inline constexpr int SerialDrainTimeout = 1058; // the output did not leave before the close
inline constexpr int SerialReadFailed = 1059;

// Stored configuration.
inline constexpr int ConfigWriteFailed = 1040;
inline constexpr int ConfigInvalidKey = 1041;
inline constexpr int ConfigReadFailed = 1042; // a store that is there but cannot be read

// Asking for the printer's status.
inline constexpr int StatusWriteFailed = 1060; // the requests could not be sent
inline constexpr int StatusReadFailed = 1061;  // the connection failed while reading
inline constexpr int StatusOpenFailed = 1062;  // the device could not be opened

} // namespace krv::comm::errors
