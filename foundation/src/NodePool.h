// Cells for many small objects of one type, cut from slabs that grow as the
// pool is used. A cell given back is reused by the next object; once no
// object is alive, every slab goes back to the heap.
//
// Meant for trees that are built and torn down node by node in large
// numbers: one heap block per node costs more than the work done per node.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace NSVextra {

template <class T> class NodePool {
public:
    NodePool() = default;
    ~NodePool() = default; // owners destroy their objects first

    NodePool(const NodePool&) = delete;
    NodePool& operator=(const NodePool&) = delete;

    // A value-initialised object; throws std::bad_alloc like new.
    T* make() {
        Cell* cell = m_free;
        if (cell != nullptr) {
            m_free = cell->next;
        } else {
            if (m_cursor == m_end)
                addSlab();
            cell = m_cursor++;
        }
        T* object = ::new (static_cast<void*>(cell->storage)) T();
        ++m_live;
        return object;
    }

    // Destroys an object made by this pool; null is ignored.
    void destroy(T* object) {
        if (object == nullptr)
            return;
        object->~T();
        Cell* cell = reinterpret_cast<Cell*>(object);
        cell->next = m_free;
        m_free = cell;
        if (--m_live == 0)
            releaseSlabs();
    }

    std::size_t live() const { return m_live; }

private:
    union Cell {
        Cell* next;
        alignas(T) unsigned char storage[sizeof(T)];
    };

    void addSlab() {
        // 16 cells at first, doubling up to 1024, so that a small tree costs
        // little and a large one few heap blocks.
        const std::size_t count =
            m_slabs.empty() ? 16 : std::min<std::size_t>(m_lastCount * 2, 1024);
        std::unique_ptr<Cell[]> slab(new Cell[count]);
        m_cursor = slab.get();
        m_end = m_cursor + count;
        m_lastCount = count;
        m_slabs.push_back(std::move(slab));
    }

    void releaseSlabs() {
        m_slabs.clear();
        m_free = nullptr;
        m_cursor = nullptr;
        m_end = nullptr;
        m_lastCount = 0;
    }

    std::vector<std::unique_ptr<Cell[]>> m_slabs;
    Cell* m_free = nullptr;
    Cell* m_cursor = nullptr; // next unused cell of the newest slab
    Cell* m_end = nullptr;
    std::size_t m_lastCount = 0;
    std::size_t m_live = 0;
};

} // namespace NSVextra
