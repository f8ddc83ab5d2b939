/* usbscan_relay.sys: the usbscan device names under Wine, served by the
 * native scanner server.
 *
 * Wine's winedevice.exe loads this driver as a kernel service. It makes
 * "\\.\Usbscan<N>\<K>" exist for the configured slots N and the pipes K = 0..3
 * and forwards every open, close, write, read and device-control request over
 * two Unix FIFOs to the scanner server, which runs as a Linux program and
 * answers each request (frames in relay_protocol.h). The driver keeps no
 * scanner behaviour of its own: every answer comes from the server.
 *
 * Wine does not hand a path below a device object to the driver, so each slot
 * is an object directory \Device\Usbscan<N> holding one device object per
 * pipe, and \DosDevices\Usbscan<N> links to the directory.
 *
 * Wine 8.0 hands the client its handle without waiting for the create
 * request's result, so an open cannot fail here: the names exist only for
 * the slots the server reports occupied at start (its answer to HELLO), and a
 * create is answered before the dispatch returns, so that the handle the
 * server gave is known when the client's next request arrives. Wine puts the
 * file object in Tail.Overlay.OriginalFileObject only.
 *
 * Requests are pended and completed by the answer thread when their answer
 * frame arrives. A pending request is cancelled when its handle is closed
 * (Wine sends no cleanup request), when it is cleaned up, and through the
 * cancel routine when the client goes away; the server is told with a CANCEL
 * frame so that it stops waiting on behalf of that request.
 *
 * Service key values: RequestFifo and AnswerFifo (REG_SZ, NT paths such as
 * \??\Z:\tmp\run\requests, or DOS paths such as Z:\tmp\run\requests) and
 * Slots (REG_DWORD, 1 to 15, default 15: the highest slot count served).
 */
#include <ntddk.h>

#include "relay_protocol.h"

/* Exported by ntoskrnl; mingw-w64's kernel headers leave it out. */
NTSYSAPI NTSTATUS NTAPI ZwWaitForSingleObject(HANDLE handle, BOOLEAN alertable,
                                              PLARGE_INTEGER timeout);

/* "URay" as a pool tag reads back in memory dumps. */
#define RELAY_POOL_TAG 0x79615255u

typedef struct RelayDevice {
    ULONG Slot;
    ULONG Pipe;
} RelayDevice;

/* Indexes into Irp->Tail.Overlay.DriverContext while a request is pending. */
enum { PENDING_TAG = 0, PENDING_OP = 1, PENDING_EVENT = 2 };

static ULONG SlotCount;
static ULONG OccupiedSlots; /* bit N: the server has a device in slot N */
static PDEVICE_OBJECT PipeDevices[RELAY_MAX_SLOTS][RELAY_PIPES_PER_SLOT];
static HANDLE SlotDirectories[RELAY_MAX_SLOTS];
static BOOLEAN SlotLinked[RELAY_MAX_SLOTS];

static HANDLE RequestFifo;
static HANDLE AnswerFifo;
static KMUTEX RequestLock;
static HANDLE AnswerThread;

static KSPIN_LOCK PendingLock;
static LIST_ENTRY PendingRequests;
static LONG NextTag;
/* Set once the answer FIFO has ended: the server is gone, nothing will answer. */
static volatile LONG ServerGone;

/* ---- Small text helpers (the kernel has no formatted printing we rely on). */

enum { NAME_CHARS = 96 };

typedef struct NameBuffer {
    WCHAR Text[NAME_CHARS];
    ULONG Length;
} NameBuffer;

static void NameAppend(NameBuffer* name, const WCHAR* text) {
    while (*text && name->Length + 1 < NAME_CHARS)
        name->Text[name->Length++] = *text++;
    name->Text[name->Length] = 0;
}

static void NameAppendNumber(NameBuffer* name, ULONG value) {
    WCHAR digits[12];
    int count = 0;
    do {
        digits[count++] = (WCHAR)(L'0' + value % 10);
        value /= 10;
    } while (value);
    while (count && name->Length + 1 < NAME_CHARS)
        name->Text[name->Length++] = digits[--count];
    name->Text[name->Length] = 0;
}

static UNICODE_STRING NameString(NameBuffer* name) {
    UNICODE_STRING text;
    text.Buffer = name->Text;
    text.Length = (USHORT)(name->Length * sizeof(WCHAR));
    text.MaximumLength = (USHORT)sizeof(name->Text);
    return text;
}

static void SlotDirectoryName(NameBuffer* name, ULONG slot) {
    name->Length = 0;
    NameAppend(name, L"\\Device\\Usbscan");
    NameAppendNumber(name, slot);
}

/* ---- Frames to the server. */

static BOOLEAN WriteAll(const void* data, ULONG size) {
    const UCHAR* bytes = (const UCHAR*)data;
    while (size) {
        IO_STATUS_BLOCK status;
        NTSTATUS result =
            ZwWriteFile(RequestFifo, NULL, NULL, NULL, &status, (PVOID)bytes, size, NULL, NULL);
        if (!NT_SUCCESS(result) || status.Information == 0 || status.Information > size)
            return FALSE;
        bytes += status.Information;
        size -= (ULONG)status.Information;
    }
    return TRUE;
}

static BOOLEAN SendFrame(ULONG op, ULONG tag, ULONG handle, ULONG value, ULONG limit,
                         const void* payload, ULONG size) {
    RelayHeader header;
    BOOLEAN sent;
    if (ServerGone || !RequestFifo)
        return FALSE;
    header.op = op;
    header.tag = tag;
    header.handle = handle;
    header.value = value;
    header.limit = limit;
    header.size = size;
    /* Header and payload of one frame must not interleave with another's. */
    KeWaitForSingleObject(&RequestLock, Executive, KernelMode, FALSE, NULL);
    sent = WriteAll(&header, sizeof(header)) && (!size || WriteAll(payload, size));
    KeReleaseMutex(&RequestLock, FALSE);
    return sent;
}

static PFILE_OBJECT FileObjectOf(PIRP irp) {
    PFILE_OBJECT fileObject = irp->Tail.Overlay.OriginalFileObject;
    return fileObject ? fileObject : IoGetCurrentIrpStackLocation(irp)->FileObject;
}

/* ---- Pending requests. */

static void CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    /* A create's dispatch waits for this (the IRP is gone once completed). */
    PKEVENT waiter = (PKEVENT)irp->Tail.Overlay.DriverContext[PENDING_EVENT];
    irp->Tail.Overlay.DriverContext[PENDING_EVENT] = NULL;
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    if (waiter)
        KeSetEvent(waiter, IO_NO_INCREMENT, FALSE);
}

static VOID NTAPI CancelPendingRequest(PDEVICE_OBJECT device, PIRP irp) {
    KIRQL irql;
    ULONG tag = (ULONG)(ULONG_PTR)irp->Tail.Overlay.DriverContext[PENDING_TAG];
    IoReleaseCancelSpinLock(irp->CancelIrql);
    /* Whoever cleared the cancel routine first owns the request; the answer
     * path leaves a request it could not claim in the list for us. */
    KeAcquireSpinLock(&PendingLock, &irql);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&PendingLock, irql);
    SendFrame(RELAY_OP_CANCEL, tag, 0, 0, 0, NULL, 0);
    CompleteRequest(irp, STATUS_CANCELLED, 0);
}

/* Queues the request under a fresh tag; FALSE when it was cancelled already. */
static BOOLEAN PendRequest(PIRP irp, ULONG op, ULONG* tag) {
    KIRQL irql;
    *tag = (ULONG)InterlockedIncrement(&NextTag);
    if (op != RELAY_OP_OPEN)
        irp->Tail.Overlay.DriverContext[PENDING_EVENT] = NULL;
    irp->Tail.Overlay.DriverContext[PENDING_TAG] = (PVOID)(ULONG_PTR)*tag;
    irp->Tail.Overlay.DriverContext[PENDING_OP] = (PVOID)(ULONG_PTR)op;
    KeAcquireSpinLock(&PendingLock, &irql);
    IoSetCancelRoutine(irp, CancelPendingRequest);
    if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
        KeReleaseSpinLock(&PendingLock, irql);
        return FALSE;
    }
    /* Listed even when the cancel routine is already on its way: it expects
     * to find the request here. */
    InsertTailList(&PendingRequests, &irp->Tail.Overlay.ListEntry);
    IoMarkIrpPending(irp);
    KeReleaseSpinLock(&PendingLock, irql);
    return TRUE;
}

/* Takes the request with this tag out of the list if nobody else owns it. */
static PIRP ClaimPendingRequest(ULONG tag) {
    KIRQL irql;
    PLIST_ENTRY entry;
    PIRP found = NULL;
    KeAcquireSpinLock(&PendingLock, &irql);
    for (entry = PendingRequests.Flink; entry != &PendingRequests; entry = entry->Flink) {
        PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        if ((ULONG)(ULONG_PTR)irp->Tail.Overlay.DriverContext[PENDING_TAG] != tag)
            continue;
        if (IoSetCancelRoutine(irp, NULL) != NULL) {
            RemoveEntryList(entry);
            found = irp;
        }
        break;
    }
    KeReleaseSpinLock(&PendingLock, irql);
    return found;
}

/* Claims every pending request of a file object (or all when fileObject is
 * NULL) into `claimed`. */
static void ClaimRequestsOf(PFILE_OBJECT fileObject, PLIST_ENTRY claimed) {
    KIRQL irql;
    PLIST_ENTRY entry;
    InitializeListHead(claimed);
    KeAcquireSpinLock(&PendingLock, &irql);
    for (entry = PendingRequests.Flink; entry != &PendingRequests;) {
        PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        PLIST_ENTRY next = entry->Flink;
        if ((!fileObject || FileObjectOf(irp) == fileObject) &&
            IoSetCancelRoutine(irp, NULL) != NULL) {
            RemoveEntryList(entry);
            InsertTailList(claimed, entry);
        }
        entry = next;
    }
    KeReleaseSpinLock(&PendingLock, irql);
}

static void CancelClaimedRequests(PLIST_ENTRY claimed, NTSTATUS status, BOOLEAN tellServer) {
    while (!IsListEmpty(claimed)) {
        PLIST_ENTRY entry = RemoveHeadList(claimed);
        PIRP irp = CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
        if (tellServer)
            SendFrame(RELAY_OP_CANCEL,
                      (ULONG)(ULONG_PTR)irp->Tail.Overlay.DriverContext[PENDING_TAG], 0, 0, 0, NULL,
                      0);
        CompleteRequest(irp, status, 0);
    }
}

static void CancelRequestsOf(PFILE_OBJECT fileObject) {
    LIST_ENTRY claimed;
    ClaimRequestsOf(fileObject, &claimed);
    CancelClaimedRequests(&claimed, STATUS_CANCELLED, TRUE);
}

/* Pends the request and sends its frame; the answer thread completes it. */
static NTSTATUS ForwardRequest(PIRP irp, ULONG op, ULONG handle, ULONG value, ULONG limit,
                               const void* payload, ULONG size) {
    ULONG tag;
    if (!PendRequest(irp, op, &tag)) {
        CompleteRequest(irp, STATUS_CANCELLED, 0);
        return STATUS_CANCELLED;
    }
    if (!SendFrame(op, tag, handle, value, limit, payload, size)) {
        PIRP claimed = ClaimPendingRequest(tag);
        if (claimed)
            CompleteRequest(claimed, STATUS_DEVICE_NOT_CONNECTED, 0);
    }
    return STATUS_PENDING;
}

/* ---- Answers from the server. */

static void* OutputBuffer(PIRP irp, PIO_STACK_LOCATION stack) {
    switch (stack->Parameters.DeviceIoControl.IoControlCode & 3) {
    case METHOD_BUFFERED:
        return irp->AssociatedIrp.SystemBuffer;
    case METHOD_NEITHER:
        return irp->UserBuffer;
    default:
        return irp->MdlAddress ? MmGetMdlVirtualAddress(irp->MdlAddress) : NULL;
    }
}

static void CompleteWithAnswer(PIRP irp, const RelayHeader* answer, const UCHAR* payload) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG op = (ULONG)(ULONG_PTR)irp->Tail.Overlay.DriverContext[PENDING_OP];
    ULONG count;
    if (op != answer->op) {
        CompleteRequest(irp, STATUS_DEVICE_PROTOCOL_ERROR, 0);
        return;
    }
    switch (op) {
    case RELAY_OP_OPEN:
        if (!answer->handle) {
            CompleteRequest(irp, STATUS_OBJECT_NAME_NOT_FOUND, 0);
            return;
        }
        FileObjectOf(irp)->FsContext = (PVOID)(ULONG_PTR)answer->handle;
        CompleteRequest(irp, STATUS_SUCCESS, 0);
        return;
    case RELAY_OP_WRITE: {
        ULONG wanted = stack->Parameters.Write.Length;
        count = answer->value < wanted ? answer->value : wanted;
        CompleteRequest(irp, count || !wanted ? STATUS_SUCCESS : STATUS_IO_DEVICE_ERROR, count);
        return;
    }
    case RELAY_OP_READ: {
        ULONG wanted = stack->Parameters.Read.Length;
        count = answer->size < wanted ? answer->size : wanted;
        if (count > answer->value)
            count = answer->value;
        if (count)
            RtlCopyMemory(irp->AssociatedIrp.SystemBuffer, payload, count);
        CompleteRequest(irp, count || !wanted ? STATUS_SUCCESS : STATUS_IO_DEVICE_ERROR, count);
        return;
    }
    case RELAY_OP_IOCTL: {
        ULONG room = stack->Parameters.DeviceIoControl.OutputBufferLength;
        void* output = OutputBuffer(irp, stack);
        if (!answer->value) {
            CompleteRequest(irp, STATUS_UNSUCCESSFUL, 0);
            return;
        }
        count = answer->size < room ? answer->size : room;
        if (!output)
            count = 0;
        if (count)
            RtlCopyMemory(output, payload, count);
        CompleteRequest(irp, STATUS_SUCCESS, count);
        return;
    }
    default:
        CompleteRequest(irp, STATUS_DEVICE_PROTOCOL_ERROR, 0);
        return;
    }
}

static BOOLEAN ReadAll(void* data, ULONG size) {
    UCHAR* bytes = (UCHAR*)data;
    while (size) {
        IO_STATUS_BLOCK status;
        NTSTATUS result =
            ZwReadFile(AnswerFifo, NULL, NULL, NULL, &status, bytes, size, NULL, NULL);
        if (!NT_SUCCESS(result) || status.Information == 0 || status.Information > size)
            return FALSE;
        bytes += status.Information;
        size -= (ULONG)status.Information;
    }
    return TRUE;
}

static VOID NTAPI AnswerThreadMain(PVOID unused) {
    for (;;) {
        RelayHeader answer;
        UCHAR* payload = NULL;
        PIRP irp;
        if (!ReadAll(&answer, sizeof(answer)) || answer.size > RELAY_MAX_PAYLOAD)
            break;
        if (answer.size) {
            payload = ExAllocatePoolWithTag(NonPagedPool, answer.size, RELAY_POOL_TAG);
            if (!payload)
                break;
            if (!ReadAll(payload, answer.size)) {
                ExFreePoolWithTag(payload, RELAY_POOL_TAG);
                break;
            }
        }
        if (answer.op == RELAY_OP_BYE) {
            if (payload)
                ExFreePoolWithTag(payload, RELAY_POOL_TAG);
            break;
        }
        irp = ClaimPendingRequest(answer.tag);
        if (irp)
            CompleteWithAnswer(irp, &answer, payload);
        if (payload)
            ExFreePoolWithTag(payload, RELAY_POOL_TAG);
    }
    /* Nothing answers any more: fail what is waiting, and what comes later. */
    InterlockedExchange(&ServerGone, 1);
    {
        LIST_ENTRY claimed;
        ClaimRequestsOf(NULL, &claimed);
        CancelClaimedRequests(&claimed, STATUS_DEVICE_NOT_CONNECTED, FALSE);
    }
    DbgPrint("usbscan_relay: the scanner server has gone\n");
    PsTerminateSystemThread(STATUS_SUCCESS);
}

/* ---- Dispatch. */

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
    const RelayDevice* pipe = (const RelayDevice*)device->DeviceExtension;
    PFILE_OBJECT fileObject = FileObjectOf(irp);
    KEVENT answered;
    char name[32];
    const char* prefix = "\\\\.\\Usbscan";
    ULONG length = 0;
    ULONG digits[2];
    int part;
    while (*prefix)
        name[length++] = *prefix++;
    digits[0] = pipe->Slot;
    digits[1] = pipe->Pipe;
    for (part = 0; part < 2; ++part) {
        if (part)
            name[length++] = '\\';
        if (digits[part] >= 10)
            name[length++] = (char)('0' + digits[part] / 10);
        name[length++] = (char)('0' + digits[part] % 10);
    }
    if (fileObject)
        fileObject->FsContext = NULL;
    KeInitializeEvent(&answered, NotificationEvent, FALSE);
    irp->Tail.Overlay.DriverContext[PENDING_EVENT] = &answered;
    if (ForwardRequest(irp, RELAY_OP_OPEN, 0, 0, 0, name, length) != STATUS_PENDING)
        return STATUS_CANCELLED;
    /* Whoever completes the create sets the event; the server answers at once,
     * and a server that has gone completes every pending request. */
    KeWaitForSingleObject(&answered, Executive, KernelMode, FALSE, NULL);
    return STATUS_PENDING;
}

static ULONG HandleOf(PIRP irp) {
    PFILE_OBJECT fileObject = FileObjectOf(irp);
    return fileObject ? (ULONG)(ULONG_PTR)fileObject->FsContext : 0;
}

static NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
    CancelRequestsOf(FileObjectOf(irp));
    CompleteRequest(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
    PFILE_OBJECT fileObject = FileObjectOf(irp);
    ULONG handle = HandleOf(irp);
    CancelRequestsOf(fileObject);
    if (handle)
        SendFrame(RELAY_OP_CLOSE, 0, handle, 0, 0, NULL, 0);
    if (fileObject)
        fileObject->FsContext = NULL;
    CompleteRequest(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
}

/* A handle whose open the server refused (the device was unplugged meanwhile)
 * fails every request, as the device would. */
static BOOLEAN RefuseWithoutHandle(PIRP irp, NTSTATUS status) {
    if (HandleOf(irp))
        return FALSE;
    CompleteRequest(irp, status, 0);
    return TRUE;
}

static NTSTATUS NTAPI DispatchWrite(PDEVICE_OBJECT device, PIRP irp) {
    ULONG size = IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
    if (RefuseWithoutHandle(irp, STATUS_IO_DEVICE_ERROR))
        return STATUS_IO_DEVICE_ERROR;
    return ForwardRequest(irp, RELAY_OP_WRITE, HandleOf(irp), 0, 0, irp->AssociatedIrp.SystemBuffer,
                          size);
}

static NTSTATUS NTAPI DispatchRead(PDEVICE_OBJECT device, PIRP irp) {
    ULONG size = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
    if (RefuseWithoutHandle(irp, STATUS_IO_DEVICE_ERROR))
        return STATUS_IO_DEVICE_ERROR;
    return ForwardRequest(irp, RELAY_OP_READ, HandleOf(irp), size, 0, NULL, 0);
}

static NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG inputSize = stack->Parameters.DeviceIoControl.InputBufferLength;
    const void* input = (code & 3) == METHOD_NEITHER
                            ? stack->Parameters.DeviceIoControl.Type3InputBuffer
                            : irp->AssociatedIrp.SystemBuffer;
    if (!input)
        inputSize = 0;
    if (RefuseWithoutHandle(irp, STATUS_UNSUCCESSFUL))
        return STATUS_UNSUCCESSFUL;
    return ForwardRequest(irp, RELAY_OP_IOCTL, HandleOf(irp), code,
                          stack->Parameters.DeviceIoControl.OutputBufferLength, input, inputSize);
}

/* ---- Start and unload. */

static NTSTATUS QueryValue(HANDLE key, const WCHAR* valueName, KEY_VALUE_PARTIAL_INFORMATION* info,
                           ULONG size) {
    UNICODE_STRING name;
    ULONG returned;
    RtlInitUnicodeString(&name, valueName);
    return ZwQueryValueKey(key, &name, KeyValuePartialInformation, info, size, &returned);
}

static NTSTATUS OpenFifo(HANDLE key, const WCHAR* valueName, ACCESS_MASK access, HANDLE* fifo) {
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 1024];
    } value;
    NameBuffer path;
    UNICODE_STRING pathString;
    OBJECT_ATTRIBUTES attributes;
    IO_STATUS_BLOCK status;
    const WCHAR* text;
    ULONG chars;
    NTSTATUS result = QueryValue(key, valueName, &value.info, sizeof(value));
    if (!NT_SUCCESS(result))
        return result;
    if (value.info.Type != REG_SZ && value.info.Type != REG_EXPAND_SZ)
        return STATUS_OBJECT_TYPE_MISMATCH;
    text = (const WCHAR*)value.info.Data;
    chars = value.info.DataLength / sizeof(WCHAR);
    path.Length = 0;
    if (chars && text[0] != L'\\')
        NameAppend(&path, L"\\??\\");
    while (chars && *text && path.Length + 1 < NAME_CHARS) {
        path.Text[path.Length++] = *text++;
        --chars;
    }
    path.Text[path.Length] = 0;
    pathString = NameString(&path);
    InitializeObjectAttributes(&attributes, &pathString, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               NULL, NULL);
    return ZwCreateFile(fifo, access | SYNCHRONIZE, &attributes, &status, NULL,
                        FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                        FILE_SYNCHRONOUS_IO_NONALERT | FILE_NON_DIRECTORY_FILE, NULL, 0);
}

static NTSTATUS ReadConfiguration(PUNICODE_STRING registryPath) {
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    } slots;
    NTSTATUS result;
    InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               NULL, NULL);
    result = ZwOpenKey(&key, KEY_READ, &attributes);
    if (!NT_SUCCESS(result))
        return result;
    SlotCount = RELAY_MAX_SLOTS;
    if (NT_SUCCESS(QueryValue(key, RELAY_VALUE_SLOTS, &slots.info, sizeof(slots))) &&
        slots.info.Type == REG_DWORD && slots.info.DataLength == sizeof(ULONG)) {
        ULONG configured = *(const ULONG*)slots.info.Data;
        if (configured >= 1 && configured <= RELAY_MAX_SLOTS)
            SlotCount = configured;
    }
    /* The server holds both FIFOs open before Wine starts, so neither open
     * waits for a peer. */
    result = OpenFifo(key, RELAY_VALUE_REQUEST_FIFO, GENERIC_WRITE, &RequestFifo);
    if (NT_SUCCESS(result))
        result = OpenFifo(key, RELAY_VALUE_ANSWER_FIFO, GENERIC_READ, &AnswerFifo);
    ZwClose(key);
    return result;
}

/* Asks the server which slots hold a device; only those get names. */
static NTSTATUS Handshake(void) {
    RelayHeader answer;
    if (!SendFrame(RELAY_OP_HELLO, 0, 0, SlotCount, 0, NULL, 0))
        return STATUS_PIPE_BROKEN;
    if (!ReadAll(&answer, sizeof(answer)))
        return STATUS_PIPE_BROKEN;
    if (answer.op != RELAY_OP_HELLO || answer.size != 0)
        return STATUS_DEVICE_PROTOCOL_ERROR;
    OccupiedSlots = answer.value;
    return STATUS_SUCCESS;
}

static NTSTATUS CreateSlot(PDRIVER_OBJECT driver, ULONG slot) {
    NameBuffer name;
    UNICODE_STRING nameString;
    NameBuffer link;
    UNICODE_STRING linkString;
    OBJECT_ATTRIBUTES attributes;
    ULONG pipe;
    NTSTATUS result;
    SlotDirectoryName(&name, slot);
    nameString = NameString(&name);
    InitializeObjectAttributes(&attributes, &nameString, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               NULL, NULL);
    result = ZwCreateDirectoryObject(&SlotDirectories[slot], DIRECTORY_ALL_ACCESS, &attributes);
    if (!NT_SUCCESS(result))
        return result;
    for (pipe = 0; pipe < RELAY_PIPES_PER_SLOT; ++pipe) {
        NameBuffer pipeName = name;
        UNICODE_STRING pipeString;
        PDEVICE_OBJECT device;
        RelayDevice* extension;
        NameAppend(&pipeName, L"\\");
        NameAppendNumber(&pipeName, pipe);
        pipeString = NameString(&pipeName);
        result = IoCreateDevice(driver, sizeof(RelayDevice), &pipeString, FILE_DEVICE_UNKNOWN, 0,
                                FALSE, &device);
        if (!NT_SUCCESS(result))
            return result;
        extension = (RelayDevice*)device->DeviceExtension;
        extension->Slot = slot;
        extension->Pipe = pipe;
        device->Flags |= DO_BUFFERED_IO;
        device->Flags &= ~DO_DEVICE_INITIALIZING;
        PipeDevices[slot][pipe] = device;
    }
    link.Length = 0;
    NameAppend(&link, L"\\DosDevices\\Usbscan");
    NameAppendNumber(&link, slot);
    linkString = NameString(&link);
    result = IoCreateSymbolicLink(&linkString, &nameString);
    if (NT_SUCCESS(result))
        SlotLinked[slot] = TRUE;
    return result;
}

static void RemoveSlots(void) {
    ULONG slot;
    ULONG pipe;
    for (slot = 0; slot < RELAY_MAX_SLOTS; ++slot) {
        if (SlotLinked[slot]) {
            NameBuffer link;
            UNICODE_STRING linkString;
            link.Length = 0;
            NameAppend(&link, L"\\DosDevices\\Usbscan");
            NameAppendNumber(&link, slot);
            linkString = NameString(&link);
            IoDeleteSymbolicLink(&linkString);
            SlotLinked[slot] = FALSE;
        }
        for (pipe = 0; pipe < RELAY_PIPES_PER_SLOT; ++pipe) {
            if (PipeDevices[slot][pipe])
                IoDeleteDevice(PipeDevices[slot][pipe]);
            PipeDevices[slot][pipe] = NULL;
        }
        if (SlotDirectories[slot])
            ZwClose(SlotDirectories[slot]);
        SlotDirectories[slot] = NULL;
    }
}

static void CloseFifos(void) {
    if (RequestFifo)
        ZwClose(RequestFifo);
    if (AnswerFifo)
        ZwClose(AnswerFifo);
    RequestFifo = NULL;
    AnswerFifo = NULL;
}

static VOID NTAPI RelayUnload(PDRIVER_OBJECT driver) {
    LIST_ENTRY claimed;
    if (AnswerThread) {
        LARGE_INTEGER timeout;
        /* The server answers BYE and stops, which ends the answer thread. */
        timeout.QuadPart = -30000000LL; /* 3 s */
        if (SendFrame(RELAY_OP_BYE, 0, 0, 0, 0, NULL, 0))
            ZwWaitForSingleObject(AnswerThread, FALSE, &timeout);
        ZwClose(AnswerThread);
        AnswerThread = NULL;
    }
    ClaimRequestsOf(NULL, &claimed);
    CancelClaimedRequests(&claimed, STATUS_CANCELLED, FALSE);
    RemoveSlots();
    CloseFifos();
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    NTSTATUS result;
    ULONG slot;
    KeInitializeSpinLock(&PendingLock);
    InitializeListHead(&PendingRequests);
    KeInitializeMutex(&RequestLock, 0);
    NextTag = 0;
    ServerGone = 0;

    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_WRITE] = DispatchWrite;
    driver->MajorFunction[IRP_MJ_READ] = DispatchRead;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    driver->DriverUnload = RelayUnload;

    result = ReadConfiguration(registryPath);
    if (!NT_SUCCESS(result)) {
        DbgPrint("usbscan_relay: no scanner server FIFOs (%08lx)\n", result);
        CloseFifos();
        return result;
    }
    result = Handshake();
    if (!NT_SUCCESS(result)) {
        DbgPrint("usbscan_relay: the scanner server does not answer (%08lx)\n", result);
        CloseFifos();
        return result;
    }
    result = PsCreateSystemThread(&AnswerThread, THREAD_ALL_ACCESS, NULL, NULL, NULL,
                                  AnswerThreadMain, NULL);
    if (!NT_SUCCESS(result)) {
        AnswerThread = NULL;
        CloseFifos();
        return result;
    }
    for (slot = 0; slot < SlotCount && NT_SUCCESS(result); ++slot)
        if (OccupiedSlots & (1u << slot))
            result = CreateSlot(driver, slot);
    if (!NT_SUCCESS(result)) {
        DbgPrint("usbscan_relay: cannot create the usbscan names (%08lx)\n", result);
        RelayUnload(driver);
        return result;
    }
    DbgPrint("usbscan_relay: slots %08lx of %lu relayed\n", OccupiedSlots, SlotCount);
    return STATUS_SUCCESS;
}
