/* The C interface as a C program uses it: a receipt printed on the emulator
 * and found on its paper, the error returns, texts cut to a small buffer, a
 * device failure that is no failure of the call.
 *
 *   receipt_test PAPER_FILE    (the emulator answers as COM1; COM9 leads nowhere)
 */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "varn/varn.h"

static int failures = 0;

#define CHECK(cond)                                                      \
  do {                                                                   \
    if (!(cond)) {                                                       \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                        \
    }                                                                    \
  } while (0)

/* A call that must succeed with result code 0. */
static void must(varn_driver* d, const char* method) {
  int rc = -1000;
  int e = varn_call(d, method, &rc);
  if (e != 0 || rc != 0) {
    char text[256];
    varn_get_text(d, "ResultCodeDescription", text, sizeof text);
    fprintf(stderr, "%s: %d (%s), result %d (%s)\n", method, e, varn_error(d), rc, text);
    ++failures;
  }
}

static void print(varn_driver* d, const char* method, const char* text) {
  CHECK(varn_set_text(d, "StringForPrinting", text) == 0);
  must(d, method);
}

/* The paper file once it holds `want` (the emulator appends as it prints);
 * waits at most 20 s. */
static char* paper_with(const char* path, const char* want) {
  static char buf[65536];
  for (int i = 0; i < 2000; ++i) {
    FILE* f = fopen(path, "rb");
    if (f) {
      size_t n = fread(buf, 1, sizeof buf - 1, f);
      fclose(f);
      buf[n] = '\0';
      if (strstr(buf, want)) return buf;
    }
    struct timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, NULL);
  }
  return buf;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: receipt_test PAPER_FILE\n");
    return 2;
  }

  /* A class that is nowhere: NULL, and the reason. */
  CHECK(varn_open("Nowhere.Nothing") == NULL);
  CHECK(strstr(varn_open_error(), "Nowhere.Nothing") != NULL);
  varn_close(NULL);

  varn_driver* d = varn_open(NULL);
  if (!d) {
    fprintf(stderr, "varn_open: %s\n", varn_open_error());
    return 1;
  }
  CHECK(strcmp(varn_open_error(), "") == 0);

  /* The member table names PrintString with its Russian help. */
  int count = varn_member_count(d), found = 0;
  CHECK(count > 100);
  for (int i = 0; i < count; ++i) {
    varn_member m;
    CHECK(varn_member_at(d, i, &m) == 0);
    if (strcmp(m.name, "PrintString") == 0)
      found = m.kind == VARN_METHOD && strcmp(m.help, "ПечатьСтроки") == 0;
  }
  CHECK(found);
  CHECK(varn_member_at(d, count, &(varn_member){0}) == VARN_E_ARGUMENT);

  /* The receipt; names in any case and in Russian. */
  int rc = -1000;
  must(d, "GetECRStatus");
  char mode[256];
  CHECK(varn_get_text(d, "ECRModeDescription", mode, sizeof mode) > 0);
  print(d, "PrintWideString", "ООО «Ромашка»");
  print(d, "printstring", "Кассовый чек № 1");
  CHECK(varn_set_text(d, "СтрокаДляПечати", "Хлеб              1 x 45.00") == 0);
  CHECK(varn_call(d, "ПечатьСтроки", &rc) == 0 && rc == 0);
  print(d, "PrintWideString", "ИТОГ          45.00");
  CHECK(varn_set_int(d, "FontType", 3) == 0);
  print(d, "PrintStringWithFont", "Спасибо за покупку!");
  CHECK(varn_set_text(d, "BarCode", "460123456789") == 0);
  must(d, "PrintBarCode");
  CHECK(varn_set_int(d, "StringQuantity", 3) == 0);
  must(d, "FeedDocument");

  const char* paper = paper_with(argv[1], "[barcode] 460123456789");
  CHECK(strstr(paper, "[bold] ООО «Ромашка»\n") != NULL);
  CHECK(strstr(paper, "\nКассовый чек № 1\nХлеб              1 x 45.00\n") != NULL);
  CHECK(strstr(paper, "[font 3] Спасибо за покупку!\n") != NULL);
  CHECK(strstr(paper, "[barcode] 460123456789\n") != NULL);

  /* Values read back in the member's type. */
  long long n = 0;
  int flag = -1;
  double volts = -1;
  int year = 0, month = 0, day = 0;
  CHECK(varn_get_int(d, "StringQuantity", &n) == 0 && n == 3);
  CHECK(varn_get_int(d, "ResultCode", &n) == 0 && n == 0);
  CHECK(varn_set_bool(d, "FieldType", 1) == 0);
  CHECK(varn_get_bool(d, "FieldType", &flag) == 0 && flag == 1);
  CHECK(varn_get_double(d, "PowerSourceVoltage", &volts) == 0 && volts >= 0);
  CHECK(varn_get_date(d, "ECRSoftDate", &year, &month, &day) == 0 && year >= 2000 && month >= 1 &&
        month <= 12 && day >= 1 && day <= 31);
  CHECK(varn_set_text(d, "StringQuantity", "+7") == 0);
  CHECK(varn_get_int(d, "КоличествоСтрок", &n) == 0 && n == 7);
  CHECK(varn_set_double(d, "StringQuantity", 4.0) == 0);
  CHECK(varn_get_int(d, "StringQuantity", &n) == 0 && n == 4);
  static const unsigned char bytes[] = {0x02, 0x01, 0xC0, 0xFF};
  unsigned char back[8] = {0};
  CHECK(varn_set_bytes(d, "StringForPrinting", bytes, sizeof bytes) == 0);
  CHECK(varn_get_bytes(d, "StringForPrinting", back, sizeof back) == 4 &&
        memcmp(back, bytes, 4) == 0);
  char text[64];
  CHECK(varn_get_text(d, "StringForPrinting", text, sizeof text) == 6 && strcmp(text,
                                                                                "\x02\x01"
                                                                                "Ая") == 0);

  /* A text cut to the buffer: the full length, always NUL-terminated. */
  CHECK(varn_set_text(d, "StringForPrinting", "Кассовый чек") == 0);
  char small[5];
  memset(small, 'x', sizeof small);
  CHECK(varn_get_text(d, "StringForPrinting", small, sizeof small) == 23);
  CHECK(memcmp(small, "Ка", 4) == 0);
  CHECK(small[4] == '\0');
  CHECK(varn_get_text(d, "StringForPrinting", NULL, 0) == 23);
  char one[1] = {'x'};
  CHECK(varn_get_text(d, "StringForPrinting", one, 1) == 23 && one[0] == '\0');

  /* The error returns, each with its text; nothing runs. */
  CHECK(varn_set_text(d, "StringForPrintng", "x") == VARN_E_UNKNOWN_NAME);
  CHECK(strstr(varn_error(d), "did you mean StringForPrinting?") != NULL);
  CHECK(varn_call(d, "NoSuchMethod", &rc) == VARN_E_UNKNOWN_NAME);
  CHECK(varn_call(d, "StringForPrinting", &rc) == VARN_E_WRONG_KIND);
  CHECK(varn_set_int(d, "PrintString", 1) == VARN_E_WRONG_KIND);
  CHECK(varn_set_text(d, "ECRModeDescription", "x") == VARN_E_WRONG_KIND);
  CHECK(varn_get_int(d, "Beep", &n) == VARN_E_WRONG_KIND);
  CHECK(varn_set_text(d, "StringQuantity", "три") == VARN_E_CONVERT);
  CHECK(strstr(varn_error(d), "StringQuantity: \"три\" is not an integer") != NULL);
  CHECK(varn_set_int(d, "StringQuantity", 5000000000LL) == VARN_E_CONVERT);
  CHECK(varn_set_double(d, "StringQuantity", 2.5) == VARN_E_CONVERT);
  CHECK(varn_set_bool(d, "StringQuantity", 1) == 0);
  CHECK(varn_get_int(d, "StringQuantity", &n) == 0 && n == 1);
  CHECK(varn_get_int(d, "ECRModeDescription", &n) == VARN_E_CONVERT);
  CHECK(varn_get_date(d, "StringQuantity", &year, &month, &day) == VARN_E_CONVERT);
  CHECK(varn_set_bytes(d, "StringQuantity", bytes, 1) == VARN_E_CONVERT);
  CHECK(varn_set_text(d, NULL, "x") == VARN_E_ARGUMENT);
  CHECK(varn_set_text(d, "StringForPrinting", NULL) == VARN_E_ARGUMENT);
  CHECK(varn_get_int(d, "StringQuantity", NULL) == VARN_E_ARGUMENT);
  CHECK(varn_get_text(d, "StringForPrinting", NULL, 8) == VARN_E_ARGUMENT);
  CHECK(varn_call(d, "LoadBitmap", &rc) == VARN_E_ARGUMENT);
  CHECK(varn_call_arg(d, "Beep", "x", &rc) == VARN_E_ARGUMENT);
  CHECK(varn_call(NULL, "Beep", &rc) == VARN_E_ARGUMENT);
  CHECK(varn_set_int(NULL, "StringQuantity", 1) == VARN_E_ARGUMENT);
  CHECK(strlen(varn_error(NULL)) > 0);

  /* A file that is no picture is the driver's result, not the call's. */
  rc = 0;
  CHECK(varn_call_arg(d, "LoadBitmap", "/nonexistent/logo.bmp", &rc) == 0 && rc == -8);

  /* A port that leads nowhere: the call succeeds, the result says why. */
  must(d, "Disconnect");
  CHECK(varn_set_int(d, "ComNumber", 9) == 0);
  rc = 0;
  CHECK(varn_call(d, "Connect", &rc) == 0 && rc != 0);
  CHECK(varn_get_int(d, "ResultCode", &n) == 0 && n == rc);
  CHECK(varn_get_text(d, "ResultCodeDescription", text, sizeof text) > 0);
  CHECK(varn_set_int(d, "ComNumber", 1) == 0);

  varn_close(d);
  if (failures) fprintf(stderr, "%d checks failed\n", failures);
  return failures ? 1 : 0;
}
