/* libvarn: the Varn receipt-printer driver for any language that calls C.
 *
 * The driver is an automation object (class "VarnDrv.VarnDrv"): set its
 * properties, call a method, read ResultCode, ResultCodeDescription and the
 * answer properties. Names are the interface's, in any case, or their
 * Russian help strings ("PrintString", "printstring", "ПечатьСтроки").
 *
 *   varn_driver *d = varn_open("VarnDrv.VarnDrv");
 *   if (!d) { fprintf(stderr, "%s\n", varn_open_error()); return 1; }
 *   int rc;
 *   char text[256];
 *   varn_set_text(d, "StringForPrinting", "Кассовый чек № 1");
 *   if (varn_call(d, "PrintString", &rc) != 0) fprintf(stderr, "%s\n", varn_error(d));
 *   else if (rc != 0) varn_get_text(d, "ResultCodeDescription", text, sizeof text);
 *   varn_close(d);
 *
 * Build with: cc app.c $(pkg-config --cflags --libs varn)
 *
 * Return values: 0 for success, or one of the negative VARN_E_* below; then
 * varn_error(d) tells why. A failure of the device or of the connection is
 * not a failure of the C call: varn_call returns 0 and *result holds the
 * driver's non-zero result code, exactly as any host sees it.
 *
 * Texts are UTF-8 both ways. Byte strings (properties that carry bytes)
 * travel one character per byte: varn_set_bytes and varn_get_bytes.
 *
 * Threads: one object is used by one thread at a time (a caller that shares
 * it locks around every call); different objects on different threads are
 * fine. varn_open_error is per thread.
 */
#ifndef VARN_VARN_H
#define VARN_VARN_H

#include <stddef.h>

#if defined(__GNUC__)
#define VARN_API __attribute__((visibility("default")))
#else
#define VARN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define VARN_E_UNKNOWN_NAME (-1) /* no member of that name */
#define VARN_E_WRONG_KIND (-2)   /* a method used as a property, a read-only property set, ... */
#define VARN_E_CONVERT (-3)      /* the value does not convert to the member's type */
#define VARN_E_CALL (-4)         /* the automation layer failed the call (its text in varn_error) */
#define VARN_E_ARGUMENT (-5)     /* a NULL or otherwise unusable argument */

typedef struct varn_driver varn_driver; /* one driver object */

/* The object of the class `progid` (NULL means "VarnDrv.VarnDrv"); NULL when
 * it cannot be made, then varn_open_error() says why. */
VARN_API varn_driver* varn_open(const char* progid);
/* Why the last varn_open of this thread failed; UTF-8, valid until the next
 * varn_open of this thread. "" when it did not fail. */
VARN_API const char* varn_open_error(void);
/* Releases the object. NULL is fine. */
VARN_API void varn_close(varn_driver* d);

/* Setters convert the value as `varn set NAME=VALUE` converts the value
 * written out: an integer in decimal, a boolean as 1 or 0, a real in
 * decimal; text is taken as it is (no "hex:" form: see varn_set_bytes). */
VARN_API int varn_set_int(varn_driver* d, const char* name, long long value);
VARN_API int varn_set_text(varn_driver* d, const char* name, const char* utf8);
VARN_API int varn_set_bool(varn_driver* d, const char* name, int value);
VARN_API int varn_set_double(varn_driver* d, const char* name, double value);
/* `size` bytes, one character each (cp1251); `bytes` may be NULL when size is 0. */
VARN_API int varn_set_bytes(varn_driver* d, const char* name, const void* bytes, size_t size);

/* Getters: an integer, boolean or real property as the type asked for (a
 * real read as an integer is VARN_E_CONVERT unless it is whole). */
VARN_API int varn_get_int(varn_driver* d, const char* name, long long* out);
VARN_API int varn_get_bool(varn_driver* d, const char* name, int* out);
VARN_API int varn_get_double(varn_driver* d, const char* name, double* out);
/* A date property as year, month (1-12) and day (1-31). */
VARN_API int varn_get_date(varn_driver* d, const char* name, int* year, int* month, int* day);
/* The value as UTF-8 text (numbers in decimal, booleans 1/0, dates
 * dd.mm.yyyy), always NUL-terminated when size > 0; returns the full length
 * in bytes without the NUL (snprintf's rule: a result >= size means it was
 * cut) or a negative VARN_E_*. */
VARN_API int varn_get_text(varn_driver* d, const char* name, char* buf, size_t size);
/* A text property's characters as bytes (cp1251, one byte each; a character
 * outside it is VARN_E_CONVERT); returns the full length like varn_get_text,
 * with no NUL added. */
VARN_API int varn_get_bytes(varn_driver* d, const char* name, void* buf, size_t size);

/* Calls a method without arguments; *result is its Value, the driver's
 * result code (0: done). `result` may be NULL. */
VARN_API int varn_call(varn_driver* d, const char* method, int* result);
/* A method with its one argument (LoadBitmap FILE, LoadBitmapEx FILE). */
VARN_API int varn_call_arg(varn_driver* d, const char* method, const char* arg, int* result);

/* The UTF-8 text of this object's last failed varn_* call ("" when none
 * failed); valid until the next call on the object. */
VARN_API const char* varn_error(varn_driver* d);

/* --- the member table --------------------------------------------------- */

#define VARN_METHOD 0
#define VARN_PROPERTY_GET 1 /* a property that can be read */
#define VARN_PROPERTY_PUT 2 /* a property that can be set */

#define VARN_TYPE_NONE 0
#define VARN_TYPE_INT 1
#define VARN_TYPE_BOOL 2
#define VARN_TYPE_DOUBLE 3
#define VARN_TYPE_TEXT 4
#define VARN_TYPE_DATE 5
#define VARN_TYPE_OTHER 6

typedef struct varn_member {
  const char* name; /* as the interface spells it */
  const char* help; /* the Russian help string, "" when none */
  int kind;         /* VARN_METHOD, VARN_PROPERTY_GET or VARN_PROPERTY_PUT */
  int type;         /* a property's type; a method's result type */
  int params;       /* a method's number of arguments */
  int dispid;
} varn_member;

/* The number of entries (a property that is read and set has two), or a
 * negative VARN_E_*. */
VARN_API int varn_member_count(varn_driver* d);
/* Entry `index` (0 <= index < count); its texts live as long as the object. */
VARN_API int varn_member_at(varn_driver* d, int index, varn_member* out);

#ifdef __cplusplus
}
#endif

#endif /* VARN_VARN_H */
