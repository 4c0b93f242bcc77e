// A byte field that a nanopb message owns (malloc'd; pb_release frees it).
#pragma once

#include <pb.h>

#include <cstddef>
#include <cstdint>

// A copy of the bytes, or nullptr when they exceed the field's size limit or memory runs out.
pb_bytes_array_t* ETNanopbBytes(const void* data, size_t size);
