/* The frames that carry usbscan requests between the Wine relay driver
 * (tools/wine/usbscan_relay.c) and the native scanner server
 * (tools/host/scanner_server.cpp).
 *
 * Two Unix FIFOs, one per direction: the driver writes requests into the
 * request FIFO and reads answers from the answer FIFO. Every frame is a
 * 24-byte header of six little-endian 32-bit words followed by `size` payload
 * bytes. An answer repeats the request's `op` and `tag`; answers may come in
 * any order, and the driver drops an answer whose tag it no longer knows
 * (the request was cancelled meanwhile).
 *
 *  op      request (driver -> server)                answer (server -> driver)
 *  HELLO   value = number of slots the driver may    value = bit N set: slot N
 *          serve (names \\.\Usbscan0 and up)         holds a device (only those
 *                                                    slots get names)
 *  OPEN    payload = the name, "\\.\Usbscan0\2"      handle = new handle, 0 if
 *                                                    the open fails (the client
 *                                                    keeps a handle that fails
 *                                                    every request)
 *  CLOSE   handle                                    none
 *  WRITE   handle, payload = the bytes               value = bytes written
 *  READ    handle, value = bytes wanted              value = bytes read,
 *                                                    payload = those bytes
 *  IOCTL   handle, value = control code,             value = 1 success, 0 not,
 *          limit = output size, payload = input      payload = the output
 *  CANCEL  tag = the request given up (the client    none
 *          closed its handle or went away)
 *  BYE     the driver is unloading                   BYE, then the server stops
 *
 * HELLO comes first and is answered before anything else. The server answers
 * OPEN, WRITE, READ and IOCTL exactly once unless the request is cancelled
 * first; a cancelled request may still be answered.
 */
#ifndef TQ_RELAY_PROTOCOL_H
#define TQ_RELAY_PROTOCOL_H

enum {
    RELAY_OP_HELLO = 1,
    RELAY_OP_OPEN = 2,
    RELAY_OP_CLOSE = 3,
    RELAY_OP_WRITE = 4,
    RELAY_OP_READ = 5,
    RELAY_OP_IOCTL = 6,
    RELAY_OP_CANCEL = 7,
    RELAY_OP_BYE = 8
};

enum {
    RELAY_HEADER_SIZE = 24,
    /* Larger than any read the data source asks for (64 KiB chunks). */
    RELAY_MAX_PAYLOAD = 16 * 1024 * 1024,
    RELAY_MAX_SLOTS = 15,
    RELAY_PIPES_PER_SLOT = 4
};

typedef struct RelayHeader {
    unsigned int op;
    unsigned int tag;
    unsigned int handle;
    unsigned int value;
    unsigned int limit;
    unsigned int size;
} RelayHeader;

#ifdef __cplusplus
static_assert(sizeof(RelayHeader) == RELAY_HEADER_SIZE, "frame header is six words");
#else
_Static_assert(sizeof(RelayHeader) == RELAY_HEADER_SIZE, "frame header is six words");
#endif

/* The service key values the driver reads at start. */
#define RELAY_VALUE_REQUEST_FIFO L"RequestFifo"
#define RELAY_VALUE_ANSWER_FIFO L"AnswerFifo"
#define RELAY_VALUE_SLOTS L"Slots"

#endif
