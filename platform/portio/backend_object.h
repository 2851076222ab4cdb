/* A port backend built as a shared object of its own, which the port layer
 * loads by name when section "Port IO" chooses it (the simulated bench is
 * one). The object exports one symbol, DLPORTIO_BACKEND_OBJECT_SYMBOL, of
 * type DlPortBackendObject; the port layer calls its routines from the
 * first port access until the process ends or unloads the port layer.
 * The port layer knows nothing else of the object, and the object nothing
 * of the port layer but this header. */
#ifndef DLPORTIO_BACKEND_OBJECT_H
#define DLPORTIO_BACKEND_OBJECT_H

#ifdef __cplusplus
extern "C" {
#endif

#define DLPORTIO_BACKEND_OBJECT_SYMBOL "dlportio_backend_object"
#define DLPORTIO_BACKEND_OBJECT_VERSION 1u

/* What the port layer lends the backend while it is open. */
typedef struct DlPortBackendHost {
  /* One line for the person at standard error (no prefix, no line end). */
  void (*warn)(const char* line);
  /* A line for the port trace, written after the line of the access being
   * made; null when no trace is kept. */
  void (*trace_note)(const char* line);
} DlPortBackendHost;

typedef struct DlPortBackendObject {
  unsigned version; /* DLPORTIO_BACKEND_OBJECT_VERSION */
  /* Starts the backend; the host's routines stay valid until close. Gives 0
   * when the backend runs. */
  int (*open)(const DlPortBackendHost* host);
  unsigned char (*read)(unsigned short port);
  void (*write)(unsigned short port, unsigned char value);
  /* Finishes the backend: files it writes are complete afterwards. */
  void (*close)(void);
} DlPortBackendObject;

#ifdef __cplusplus
}
#endif

#endif
