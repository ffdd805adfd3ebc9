// How many classes and rows of each kind the 7.4 set has.
#pragma once

namespace rows {
inline constexpr int Wrappers = 24;
inline constexpr int Slots = 329;
inline constexpr int OutRows = 46;  // IStorage::OpenStorage among them
inline constexpr int InRows = 19;
inline constexpr int PropertyWrappers = 5;  // IDbMapiProps and the interfaces derived from it
}  // namespace rows
