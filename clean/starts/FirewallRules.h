// Firewall rules whose program is the product's.
#pragma once

// Removed by name through the firewall's own interface; a name that another program's rule
// shares stays (logged as failed with 5).
void RemoveFirewallRules();
