// The kernel list of a store and its exclusive-use guard. Evaluation moves
// file positions and fills caches, so one query at a time holds the list;
// a second, nested acquisition is a programming error.
//
// Nested use is signalled by throwing KernelListBusy from borrow(). It is
// not an EphemerisError on purpose: it never depends on the user's input,
// and the Python layer, which catches every C++ exception at its entry
// points, reports it as a panic. Code that wants to probe instead uses
// try_borrow(), which returns no guard.
#pragma once

#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "spk/kernel.hpp"

namespace tarvex::spk {

// Index 0 is the primary kernel, then additional kernels in attachment order.
using KernelList = std::vector<SpkKernel>;

class KernelListBusy : public std::logic_error {
 public:
  KernelListBusy() : std::logic_error("SPK kernel list is already in exclusive use") {}
};

class KernelCell;

// Exclusive use of the kernel list for the guard's lifetime.
class KernelGuard {
 public:
  KernelGuard(KernelGuard&& other) noexcept : cell_(std::exchange(other.cell_, nullptr)) {}
  KernelGuard& operator=(KernelGuard&&) = delete;
  KernelGuard(const KernelGuard&) = delete;
  KernelGuard& operator=(const KernelGuard&) = delete;
  ~KernelGuard();

  KernelList& operator*() const noexcept;
  KernelList* operator->() const noexcept;

 private:
  friend class KernelCell;
  explicit KernelGuard(KernelCell* cell) noexcept : cell_(cell) {}
  KernelCell* cell_;
};

// A single-owner cell around the kernel list with a borrow flag.
class KernelCell {
 public:
  explicit KernelCell(KernelList kernels) : kernels_(std::move(kernels)) {}
  KernelCell(const KernelCell&) = delete;
  KernelCell& operator=(const KernelCell&) = delete;

  // Throws KernelListBusy when a guard is alive.
  KernelGuard borrow();
  std::optional<KernelGuard> try_borrow();
  bool is_borrowed() const noexcept { return borrowed_; }

 private:
  friend class KernelGuard;
  KernelList kernels_;
  bool borrowed_ = false;
};

inline KernelGuard::~KernelGuard() {
  if (cell_ != nullptr) cell_->borrowed_ = false;
}
inline KernelList& KernelGuard::operator*() const noexcept { return cell_->kernels_; }
inline KernelList* KernelGuard::operator->() const noexcept { return &cell_->kernels_; }

inline std::optional<KernelGuard> KernelCell::try_borrow() {
  if (borrowed_) return std::nullopt;
  borrowed_ = true;
  return KernelGuard(this);
}

inline KernelGuard KernelCell::borrow() {
  if (borrowed_) throw KernelListBusy();
  borrowed_ = true;
  return KernelGuard(this);
}

}  // namespace tarvex::spk
