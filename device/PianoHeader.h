/*
 * PianoHeader.h - the public face of the Korvalink MIDI device library.
 *
 * Five plain operations with 32-bit arguments and results, and the window
 * messages the library posts back. A Boolean result counts as true when its
 * low byte is non-zero; use KorvaTrue() rather than comparing with 1.
 *
 * The window handle is a small struct owned by the caller. The library may
 * call its post function from any thread; the function must only queue the
 * message for the window's own thread. After DisConnectDevice() returns the
 * library never calls it again, so the owner may then be destroyed.
 */
#ifndef TASTAVIA_PIANOHEADER_H
#define TASTAVIA_PIANOHEADER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t KorvaBool;

typedef struct KorvaWindow {
    void *context;
    void (*post)(void *context, uint32_t message, uint32_t wParam, uint32_t lParam);
} KorvaWindow;

/* Window messages posted by the library. */
enum {
    KORVA_MSG_HITKEY = 0x5400,   /* wParam: short message from the MIDI input */
    KORVA_MSG_ERROR = 0x5401,    /* lParam: error code, see below */
    KORVA_MSG_MIDISTOP = 0x6400  /* input or audio output stopped */
};

/* Error codes carried by KORVA_MSG_ERROR. */
enum {
    KORVA_ERR_NOTE_OUT_OF_RANGE = 0,
    KORVA_ERR_SOUND_FAILED = 1
};

/* The only message kind MidiInProc accepts: MIM_DATA. */
enum { KORVA_MIM_DATA = 963 };

KorvaBool ConnectDevice(KorvaWindow *window);
KorvaBool DisConnectDevice(void);
KorvaBool MidiInProc(uint32_t hMidiIn, uint32_t wMsg, uint32_t dwInstance, uint32_t dwParam1,
                     uint32_t dwParam2);
KorvaBool SetMasterKeyVolume(uint32_t volume);
KorvaBool SetSlaveKeyVolume(uint32_t volume);

#ifdef __cplusplus
}

inline bool KorvaTrue(KorvaBool result) { return (static_cast<uint32_t>(result) & 0xFFu) != 0; }
#endif

#endif
