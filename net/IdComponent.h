// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Base of the transport components: while at least one exists, the process-wide socket layer does.
class TIdComponent {
  public:
    TIdComponent(); // may raise the socket layer's start-up errors
    virtual ~TIdComponent();
    TIdComponent(const TIdComponent&) = delete;
    TIdComponent& operator=(const TIdComponent&) = delete;

    static int InstanceCount();
};
