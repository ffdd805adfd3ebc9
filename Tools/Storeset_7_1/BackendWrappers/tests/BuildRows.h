// How many classes and rows of each kind the 7.1 set has.
#pragma once

namespace rows {
inline constexpr int Wrappers = 25;
inline constexpr int Slots = 327;
inline constexpr int OutRows = 48;  // IStorage::OpenStorage among them
inline constexpr int InRows = 20;
inline constexpr int PropertyWrappers = 6;  // IDbMapiProps and the interfaces derived from it
}  // namespace rows
