// An immutable ordered collection; range-for stands in for fast enumeration.
#pragma once

#include <Foundation/NSObjCRuntime.h>

#include <utility>
#include <vector>

template <class ObjectType> class NSArray {
public:
    NSArray() = default;
    explicit NSArray(std::vector<ObjectType> objects) : m_objects(std::move(objects)) {}

    NSUInteger count() const { return m_objects.size(); }
    // The caller keeps index below count(), as on the platform.
    const ObjectType& objectAtIndex(NSUInteger index) const { return m_objects.at(index); }

    auto begin() const { return m_objects.begin(); }
    auto end() const { return m_objects.end(); }

private:
    std::vector<ObjectType> m_objects;
};
