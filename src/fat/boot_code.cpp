#include "fat/boot_code.h"

#include <array>

namespace tarvix::fat {
namespace {

// 16-bit real mode; the BIOS may enter at 0000:7C00 or 07C0:0000, so the code takes its data
// segment from CS and finds the message relative to its own position.
//
//          cli
//          xor   ax, ax
//          mov   ss, ax
//          mov   sp, 0x7C00        ; stack just below the boot sector
//          sti
//          push  cs
//          pop   ds
//          call  here              ; pushes the address of `here`
//   here:  pop   si
//          add   si, msg - here
//          cld
//   print: lodsb
//          test  al, al
//          jz    key
//          mov   ah, 0x0E          ; teletype output
//          mov   bx, 0x0007        ; page 0, light grey
//          int   0x10
//          jmp   print
//   key:   xor   ah, ah            ; wait for a key
//          int   0x16
//          int   0x19              ; bootstrap loader: try the next boot device
//   halt:  hlt
//          jmp   halt
//   msg:   db 13, 10, "This is not a system disk.", 13, 10
//          db "Remove it and press any key to restart.", 13, 10, 0
constexpr char kMessage[] =
    "\r\nThis is not a system disk.\r\nRemove it and press any key to restart.\r\n";

constexpr std::array<std::uint8_t, 42> kCode = {
    0xFA,             // cli
    0x31, 0xC0,       // xor ax, ax
    0x8E, 0xD0,       // mov ss, ax
    0xBC, 0x00, 0x7C, // mov sp, 0x7C00
    0xFB,             // sti
    0x0E,             // push cs
    0x1F,             // pop ds
    0xE8, 0x00, 0x00, // call here
    0x5E,             // here: pop si
    0x83, 0xC6, 0x1C, // add si, 28 (msg - here)
    0xFC,             // cld
    0xAC,             // print: lodsb
    0x84, 0xC0,       // test al, al
    0x74, 0x09,       // jz key
    0xB4, 0x0E,       // mov ah, 0x0E
    0xBB, 0x07, 0x00, // mov bx, 0x0007
    0xCD, 0x10,       // int 0x10
    0xEB, 0xF2,       // jmp print
    0x30, 0xE4,       // key: xor ah, ah
    0xCD, 0x16,       // int 0x16
    0xCD, 0x19,       // int 0x19
    0xF4,             // halt: hlt
    0xEB, 0xFD,       // jmp halt
};

constexpr auto kBootCode = [] {
  std::array<std::uint8_t, kCode.size() + sizeof kMessage> bytes{};
  std::size_t i = 0;
  for (auto b : kCode)
    bytes[i++] = b;
  for (char c : kMessage)
    bytes[i++] = static_cast<std::uint8_t>(c); // ends with the NUL
  return bytes;
}();

static_assert(kBootCode.size() <= kFat32BootCodeBytes && kBootCode.size() <= kFat16BootCodeBytes);

} // namespace

std::span<const std::uint8_t> bootCode() { return kBootCode; }

} // namespace tarvix::fat
