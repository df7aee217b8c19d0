// The KD-720 scanner object. This header holds its transport session and
// the command protocol: every command in its container, with its data
// phase and status, and the decoding of failures into error classes.
#pragma once

#include "DocUSBScanner.h"
#include "ScannerCommands.h"

class CTavrKd : public CDocUSBScanner {
public:
    explicit CTavrKd(const void* deviceRecord);
    ~CTavrKd() override;

    // The USB session, then bulk-in pipe 1 and bulk-out pipe 2 when the
    // device has an interface.
    KdError OpenSession() override;

    // Reads the 4-byte status; a non-zero status word is a check condition.
    // The status word goes to *status when given.
    KdError GetResponse(unsigned long* status) override;

    static void SetupCommandContainer(std::uint8_t opcode, SCommand* command);
    static void SetupDataContainer(unsigned long size, SCommand* command);
    // Turns REQUEST SENSE's key, ASC and ASCQ into an error class.
    static KdError DecodeSense(unsigned long sense);

    KdError ExecTestUnitReady();
    // eom and info may be null.
    KdError ExecRequestSense(unsigned long* sense, unsigned char* eom, unsigned long* info);
    // vendor, product and revision take at most 8, 16 and 4 characters
    // and a terminating NUL; any pointer may be null.
    KdError ExecInquiry(char* vendor, char* product, char* revision, unsigned char* deviceType);
    KdError ExecInquiryEx(SDeviceCapabilty* capability);
    KdError ExecReserveUnit();
    KdError ExecReleaseUnit();
    KdError ExecScan(unsigned long count, const unsigned char* windowIds);
    KdError ExecSetWindow(const SScanWindow* window);
    KdError ExecGetWindow(SScanWindow* window);
    // *size: in, the bytes asked for; out, the bytes that arrived.
    KdError ExecRead(unsigned long* size, unsigned char* buffer, unsigned long dataType);
    KdError ExecSend(unsigned long size, const unsigned char* data, unsigned long dataType);
    // 0 no motion, 1 pick a sheet, 2 discharge the paper path.
    KdError ExecObjectPosition(unsigned long action);
    KdError ExecGetMemory(unsigned long address, unsigned long size, unsigned char* buffer);
    KdError ExecGetScannerStatus(unsigned char* paper, unsigned char* other);
    KdError ExecErrorClear();
    KdError ExecDefineScanMode(const SScanModeParam* mode);
    KdError ExecStopBatch();
    KdError ExecSetAdjustData(const SAdjustInfo* front, const SAdjustInfo* back);
    KdError ExecSetScanParameter(const SScanParameter* parameter, unsigned short value);

    // The recovery after a failed command: a stalled pipe is cleared and
    // the sense read, a check condition has its sense read, and the sense
    // decides the class (key 0: success). Other classes pass unchanged.
    KdError RecoverError(KdError error);

private:
    KdError ExecNoData(std::uint8_t opcode);
    // Writes the command container, then an optional data container, then
    // reads an optional reply of exactly replySize bytes, then the status.
    KdError Transact(const SCommand& command, const void* data, std::size_t dataContainerSize,
                     void* reply, std::size_t replySize);
    KdError WriteAll(const void* buffer, std::size_t size);
    // Reads up to *size bytes; *size becomes the count that arrived.
    KdError ReadSome(void* buffer, unsigned long* size);
    KdError ReadExactly(void* buffer, std::size_t size);
};
