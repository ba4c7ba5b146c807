/*
** Form and multipart bodies of an HTTP request: adding fields, the form
** encoding used for GET queries and urlencoded POST bodies, the multipart
** body's length (computed before the head is sent) and its sending, with
** files read through WinFile in pieces and never held whole in memory; and
** the multipart boundary generator.
*/
#include <cstdio>
#include <cstring>
#include <ctime>

#include "misc/fsutil.h"
#include "misc/mystdio.h"
#include "net/httprequest.h"
#include "net/securechannel.h"

/* ---- Field list ---- */

FormFieldList::~FormFieldList() {
  while (FormField* field = TakeFirst()) delete field;
}

void FormFieldList::Append(FormField* field) {
  field->Next = nullptr;
  field->Prev = tail_;
  if (tail_) {
    tail_->Next = field;
  } else {
    head_ = field;
  }
  tail_ = field;
}

FormField* FormFieldList::TakeFirst() {
  FormField* field = head_;
  if (!field) return nullptr;
  head_ = field->Next;
  if (head_) {
    head_->Prev = nullptr;
  } else {
    tail_ = nullptr;
  }
  field->Next = nullptr;
  return field;
}

/* ---- Boundary generator ---- */

namespace {

constexpr uint32_t kModulus = 0x7FFFFFFF;  // 2^31 - 1
constexpr uint32_t kMultiplier = 16807;

uint32_t boundaryState = 0;

/* Seeds the generator with the time when the program starts. */
const struct BoundarySeed {
  BoundarySeed() { SeedBoundaryGenerator(static_cast<uint32_t>(std::time(nullptr))); }
} boundarySeed;

}  // namespace

void SeedBoundaryGenerator(uint32_t seed) {
  seed %= kModulus;
  boundaryState = seed == 0 ? 1 : seed;
}

uint32_t NextBoundaryValue() {
  // A request made by a static constructor may come before the seed.
  if (boundaryState == 0) SeedBoundaryGenerator(static_cast<uint32_t>(std::time(nullptr)));
  boundaryState = static_cast<uint32_t>(uint64_t{boundaryState} * kMultiplier % kModulus);
  return boundaryState;
}

void MakeBoundary(char boundary[kBoundarySize]) {
  std::memcpy(boundary, "----------", 10);
  // Each value is printed with at least four digits, four places after the
  // last one and so over that one's digits beyond the fourth; the seventh
  // keeps all of its digits.
  for (int i = 0; i < 7; ++i) {
    int at = 10 + 4 * i;
    std::snprintf(boundary + at, kBoundarySize - at, "%.4x", NextBoundaryValue());
  }
}

/* ---- Fields ---- */

bool HttpRequest::AddField(const char* name, const char* value, bool isFile) {
  uint32_t size;
  if (isFile) {
    if (!FileExists(value)) {
      ErrorText.Format("Arquivo %s inexistente", value);
      return false;
    }
    size = PathSize(value);
  } else {
    size = static_cast<uint32_t>(std::strlen(value));
  }
  FormField* field = new FormField;
  field->Name = name;
  field->Value = value;
  field->IsFile = isFile;
  field->Size = size;
  Fields.Append(field);
  if (isFile) HasFile = true;
  return true;
}

namespace {

/* Whether a value byte is written as "%XX": printable punctuation except
** "-", "." and "_", and every byte above "z". */
bool IsEscaped(unsigned char c) {
  return (c >= 0x21 && c <= 0x2C) || c == 0x2F || (c >= 0x3A && c <= 0x40) ||
         (c >= 0x5B && c <= 0x5E) || c == 0x60 || c > 0x7A;
}

}  // namespace

void HttpRequest::EncodeFields(zustring& target) {
  static const char kHex[] = "0123456789ABCDEF";
  char area[kEncodeArea];
  bool first = true;
  while (FormField* field = Fields.TakeFirst()) {
    if (!first) target.Append("&", 1);
    target += field->Name;
    target.Append("=", 1);
    first = false;
    int waiting = 0;
    const unsigned char* value = reinterpret_cast<const unsigned char*>(field->Value.c_str());
    for (unsigned i = 0; i < field->Value.Length(); ++i) {
      if (waiting > kEncodeArea - 3) {
        target.Append(area, waiting);
        waiting = 0;
      }
      unsigned char c = value[i];
      if (c == ' ') {
        area[waiting++] = '+';
      } else if (IsEscaped(c)) {
        area[waiting++] = '%';
        area[waiting++] = kHex[c >> 4];
        area[waiting++] = kHex[c & 15];
      } else {
        area[waiting++] = static_cast<char>(c);
      }
    }
    if (waiting > 0) target.Append(area, waiting);
    delete field;
  }
}

/* ---- Multipart body ---- */

uint32_t HttpRequest::MultipartLength() {
  uint32_t total = 0;
  for (FormField* field = Fields.First(); field; field = field->Next) {
    zustring head;
    if (field->IsFile) {
      head.Format(
          "--%s\r\nContent-Disposition: form-data; name=\"%s\"; filename=\"%s\"\r\n"
          "Content-type: application/octet-stream\r\n\r\n",
          Boundary, field->Name.c_str(), field->Value.c_str());
      total += head.Length() + field->Size + 2;
    } else {
      head.Format("--%s\r\nContent-Disposition: form-data; name=\"%s\"\r\n\r\n", Boundary,
                  field->Name.c_str());
      head += field->Value;
      head.Append("\r\n", 2);
      total += head.Length();
    }
    field->Name = head;
  }
  return total + static_cast<uint32_t>(std::strlen(Boundary)) + 6;
}

bool HttpRequest::SendMultipart() {
  while (FormField* field = Fields.TakeFirst()) {
    bool sent = SendData(field->Name.c_str(), static_cast<int>(field->Name.Length()));
    if (sent && field->IsFile) {
      WinFile* file = winFopen(field->Value.c_str(), "r");
      if (!file) {
        ErrorText.Format("N\xe3o foi possivel abrir e enviar o arquivo %s", field->Value.c_str());
        sent = false;
      } else {
        char piece[kFilePiece];
        int n;
        while ((n = winFread(piece, 1, sizeof piece, file)) > 0 && SendData(piece, n)) {
        }
        winFclose(file);
        if (n != 0) {
          ErrorText = "Erro enviando os dados do arquivo";
          sent = false;
        } else {
          SendData("\r\n", 2);
        }
      }
    }
    delete field;
    if (!sent) return false;
  }
  zustring closing;
  closing.Format("--%s--\r\n", Boundary);
  return SendData(closing.c_str(), static_cast<int>(closing.Length()));
}

bool HttpRequest::SendData(const char* data, int length) {
  if (Secure) {
    if (Secure->Send(data, length) < 0) {
      ErrorText = Secure->MessageText;
      return false;
    }
    return true;
  }
  // A blocking send takes everything; a short one is continued, not lost,
  // and one that takes nothing is a failure.
  while (length > 0) {
    int sent = Socket ? Socket->Send(data, length, 0) : -1;
    if (sent <= 0) {
      ErrorText = "Erro enviando dados ao servidor remoto";
      return false;
    }
    data += sent;
    length -= sent;
  }
  return true;
}
