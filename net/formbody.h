/*
** Form fields of an HTTP request and the multipart boundary generator.
**
** A request keeps its fields in a FormFieldList, in the order they were
** added; the form encoder, the multipart length and the multipart sender
** are operations of HttpRequest (net/httprequest.h) and are implemented in
** formbody.cpp beside these.
**
** The boundary generator is one process-wide 32-bit state, seeded with the
** current time in seconds when the program starts and advanced by the
** minimal standard generator (state * 16807 mod 2^31 - 1). It takes no lock:
** requests are made by one thread at a time.
*/
#pragma once

#include <cstdint>

#include "misc/zustring.h"

struct FormField {
  FormField* Next = nullptr;
  FormField* Prev = nullptr;
  /* The field's name; the multipart length computation replaces it with
  ** the head text of the field's part. */
  zustring Name;
  /* The text value, or the path of the file to upload. */
  zustring Value;
  bool IsFile = false;
  /* Length of the text value, or the file's size when it was added. */
  uint32_t Size = 0;
};

/* An owning list of fields: appended at the tail, taken from the head. */
class FormFieldList {
 public:
  FormFieldList() = default;
  FormFieldList(const FormFieldList&) = delete;
  FormFieldList& operator=(const FormFieldList&) = delete;
  ~FormFieldList();

  void Append(FormField* field);
  /* Unlinks the first field and hands it to the caller, or null. */
  FormField* TakeFirst();
  FormField* First() const { return head_; }
  bool IsEmpty() const { return head_ == nullptr; }

 private:
  FormField* head_ = nullptr;
  FormField* tail_ = nullptr;
};

/* Room for a boundary: ten hyphens, six times four digits, up to eight
** digits of the seventh value and the terminator. */
constexpr int kBoundarySize = 43;

/* Sets the generator's state; 0 (which the generator never leaves) and
** values from 2^31 - 1 up are taken modulo 2^31 - 1, with 1 for 0. */
void SeedBoundaryGenerator(uint32_t seed);
/* Advances the generator and returns its new state (1 to 2^31 - 2). */
uint32_t NextBoundaryValue();
/* Writes a new boundary of 38 to 42 characters: ten hyphens, then the
** first four lowercase hexadecimal digits of each of six generator values
** and all digits of a seventh. */
void MakeBoundary(char boundary[kBoundarySize]);
